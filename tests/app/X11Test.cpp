// The program in a real window under an X server, driven by xdotool as a
// person would: type an address into the address box and press Return.
#include "TCannedServer.h"
#include "TChildProcess.h"

#include <gtest/gtest.h>

#include <QString>
#include <QTemporaryDir>

#include <unistd.h>

namespace {

// Where xvfb-run -a starts looking for a free display: apart for each test
// process, so that runs at the same time (two builds' suites) do not both
// take the first free one.
std::string FirstDisplay() {
    return std::to_string(100 + getpid() % 4000);
}

// Runs script (bash; $1 the program, then args) under an X server of its
// own, with an address history and crawls of this run only. What it printed
// goes to out; a failure says what it printed and why.
::testing::AssertionResult UnderX(const char* script, const std::vector<std::string>& args,
                                  std::string& out) {
    std::vector<std::string> command{"-a",   "-n", FirstDisplay(), "-s", "-screen 0 1024x768x24",
                                     "bash", "-c", script,         "bash", MARROWBY_BIN};
    command.insert(command.end(), args.begin(), args.end());
    TChildProcess run("xvfb-run", command);
    run.SetEnv("QT_QPA_PLATFORM", std::nullopt); // the tests' offscreen platform is not for these
    const QTemporaryDir config;
    run.SetEnv("XDG_CONFIG_HOME", config.path().toStdString());
    run.SetEnv("XDG_DATA_HOME", config.path().toStdString());
    if (!run.Start())
        return ::testing::AssertionFailure() << "xvfb-run is missing";
    if (!run.Wait(std::chrono::seconds(90)))
        return ::testing::AssertionFailure() << "still running after 90 s";
    out = run.Out();
    if (run.ExitCode() != 0)
        return ::testing::AssertionFailure() << "exit " << run.ExitCode() << ": " << run.Out()
                                             << run.Err();
    return ::testing::AssertionSuccess();
}

// Starts the program, waits for its window, types the address, presses
// Return and prints the window's title once it changes ("title=...").
constexpr const char* Script = R"(
"$1" & app=$!
win=$(timeout 20 xdotool search --sync --onlyvisible --name '^FrmMain' | head -1)
[ -n "$win" ] || { echo "no window"; kill $app; exit 1; }
xdotool windowfocus --sync "$win"
idle=$(xdotool getwindowname "$win")
sleep 0.5
xdotool type --delay 20 "$2"
xdotool key Return
title=$idle
for i in $(seq 100); do
  title=$(xdotool getwindowname "$win")
  [ "$title" != "$idle" ] && break
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

    std::string said;
    ASSERT_TRUE(UnderX(Script, {url}, said));
    const QString out = QString::fromStdString(said);

    const std::vector<TReceivedRequest> requests = server.Requests();
    ASSERT_GE(requests.size(), 2u) << said;
    EXPECT_EQ(requests[0].Target, "/robots.txt"); // read once, before the first page
    EXPECT_EQ(requests[1].Target, "/index.html");
    // The desktop shows the caption with the program's name.
    EXPECT_TRUE(
        out.contains("title=" + QString::fromStdString(url) + " 페이지를 탐색 중입니다 — Marrowby"))
        << out.toStdString();
}

// Crawls the sample site to its end, closes the end's box, types another
// address and presses Return; the question about the results not saved is
// answered Discard (Alt+D). Prints "windows=N" for each wait that failed.
constexpr const char* NextScript = R"sh(
"$1" --site "$2" & app=$!
windows() { xdotool search --onlyvisible --classname marrowby 2>/dev/null | wc -l; }
wait_for() {
  for i in $(seq 300); do [ "$(windows)" -eq "$1" ] && return 0; sleep 0.1; done
  echo "windows=$(windows), not $1"; return 1
}
wait_for 2 || { kill $app; exit 1; } # the end of the crawl: its box over the window
sleep 0.5
xdotool key Return
wait_for 1
win=$(xdotool search --onlyvisible --classname marrowby | head -1)
xdotool windowfocus --sync "$win"
sleep 0.5
xdotool key ctrl+a
xdotool type --delay 20 "$3"
xdotool key Return
wait_for 2 && { sleep 0.5; xdotool key alt+d; }
sleep 3
kill $app; wait $app
exit 0
)sh";

TEST(RealWindow, ReturnWithAnotherAddressAfterTheEndCrawlsIt) {
    TCannedServer second;
    TCannedResponse page;
    page.Raw = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 5\r\n\r\nhello";
    second.Add("/next.html", page);
    ASSERT_TRUE(second.Start());
    std::string said;
    ASSERT_TRUE(UnderX(NextScript, {MARROWBY_SAMPLE_SITE, second.Url("/next.html")}, said));
    const std::vector<TReceivedRequest> requests = second.Requests();
    ASSERT_GE(requests.size(), 2u) << said;
    EXPECT_EQ(requests[0].Target, "/robots.txt"); // read once, before the first page
    EXPECT_EQ(requests[1].Target, "/next.html");
}

// A crawl kept by a headless run stopped in its pause (SIGTERM), opened with
// File → Open Crawl… (Ctrl+Shift+O, the path typed into the file dialog),
// then Return in the address box: the crawl goes on with its queue.
constexpr const char* OpenScript = R"sh(
"$1" --headless --delay 5 --crawl-file "$3" "$2" > "$3.out" 2>&1 & run=$!
for i in $(seq 100); do grep -q 'index.html' "$3.out" && break; sleep 0.1; done
kill -TERM $run; wait $run
"$1" & app=$!
windows() { xdotool search --onlyvisible --classname marrowby 2>/dev/null | wc -l; }
win=$(timeout 20 xdotool search --sync --onlyvisible --name '^FrmMain' | head -1)
[ -n "$win" ] || { echo "no window"; kill $app; exit 1; }
xdotool windowfocus --sync "$win"
sleep 0.5
xdotool key ctrl+shift+o
for i in $(seq 100); do [ "$(windows)" -ge 2 ] && break; sleep 0.1; done
sleep 0.5
xdotool type --delay 10 "$3"
xdotool key Return
for i in $(seq 100); do [ "$(windows)" -eq 1 ] && break; sleep 0.1; done
sleep 1
xdotool windowfocus --sync "$win"
xdotool key Return
for i in $(seq 300); do xdotool getwindowname "$win" | grep -q 'a\.html' && break; sleep 0.1; done
sleep 1
kill $app; wait $app
exit 0
)sh";

TEST(RealWindow, AStoppedCrawlOpenedFromItsFileGoesOnAtReturn) {
    TCannedServer server;
    const auto html = [](const std::string& body) {
        TCannedResponse page;
        page.Raw = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                   std::to_string(body.size()) + "\r\n\r\n" + body;
        return page;
    };
    server.Add("/index.html", html("<a href=\"a.html\">a</a>"));
    server.Add("/a.html", html("<p>a</p>"));
    ASSERT_TRUE(server.Start());
    const QTemporaryDir kept;
    const std::string file = kept.filePath("kept.marrowby").toStdString();
    std::string said;
    ASSERT_TRUE(UnderX(OpenScript, {server.Url("/index.html"), file}, said));
    // The kept page is read back from the file, not asked for again. (The
    // address that cannot exist, asked at the end for soft 404s, aside.)
    std::vector<std::string> targets;
    for (const TReceivedRequest& request : server.Requests())
        if (!request.Target.starts_with("/marrowby-"))
            targets.push_back(request.Target);
    EXPECT_EQ(targets, (std::vector<std::string>{"/robots.txt", "/index.html", "/a.html"}))
        << said;
}

} // namespace
