// The program in a real window under an X server, driven by xdotool as a
// person would: type an address into the address box and press Return.
#include "TCannedServer.h"
#include "TChildProcess.h"

#include <gtest/gtest.h>

#include <QString>

namespace {

// Starts the program, waits for its window, types the address, presses
// Return and prints the window's title once it changes ("title=...").
constexpr const char* Script = R"(
"$1" & app=$!
win=$(timeout 20 xdotool search --sync --onlyvisible --name '^FrmMain$' | head -1)
[ -n "$win" ] || { echo "no window"; kill $app; exit 1; }
xdotool windowfocus --sync "$win"
sleep 0.5
xdotool type --delay 20 "$2"
xdotool key Return
title=FrmMain
for i in $(seq 100); do
  title=$(xdotool getwindowname "$win")
  [ "$title" != FrmMain ] && break
  sleep 0.1
done
echo "title=$title"
kill $app; wait $app
exit 0
)";

TEST(RealWindow, ReturnInTheAddressBoxFetchesTheTypedPage) {
    TCannedServer server;
    TCannedResponse page;
    page.Raw = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 5\r\n\r\nhello";
    server.Add("/index.html", page);
    ASSERT_TRUE(server.Start());
    const std::string url = server.Url("/index.html");

    TChildProcess run("xvfb-run", {"-a", "-s", "-screen 0 1024x768x24", "bash", "-c", Script,
                                   "bash", MARROWBY_BIN, url});
    run.SetEnv("QT_QPA_PLATFORM", std::nullopt); // the tests' offscreen platform is not for this one
    ASSERT_TRUE(run.Start()) << "xvfb-run is missing";
    ASSERT_TRUE(run.Wait(std::chrono::seconds(60)));
    const QString out = QString::fromStdString(run.Out());
    ASSERT_EQ(run.ExitCode(), 0) << run.Out() << run.Err();

    const std::vector<TReceivedRequest> requests = server.Requests();
    ASSERT_FALSE(requests.empty()) << run.Out() << run.Err();
    EXPECT_EQ(requests.front().Target, "/index.html");
    EXPECT_TRUE(out.contains("title=" + QString::fromStdString(url) + " 페이지를 탐색 중입니다"))
        << out.toStdString();
}

} // namespace
