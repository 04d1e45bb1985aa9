// The window stays alive during a crawl: a 10 ms heartbeat timer on the GUI
// thread, and the largest gap between two of its ticks while the window
// crawls a site whose server takes 2 s for every page and every object, or,
// given an address, the site there (bench/crawl.sh points it at the site whose
// links lead to slow hosts):
//   bench_heartbeat [URL]
// Prints heartbeat_max_gap_ms=N (the target is 50 at most); fails when the
// crawl has not ended within two minutes.
#include "TApplication.h"
#include "TCannedServer.h"
#include "TFrmMain.h"
#include "parser/THtmlParser.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    setenv("QT_NO_GLIB", "1", 0);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const QString address = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    int appArgc = 1;
    TApplication app(appArgc, argv);
    THtmlParser::SetSkipFileName(MARROWBY_SKIP_FILE);

    TCannedServer server(std::chrono::seconds(120));
    auto slow = [](const std::string& type, const std::string& body) {
        TCannedResponse r;
        r.Raw = "HTTP/1.1 200 OK\r\nContent-Type: " + type +
                "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        r.StallAfter = 0;
        r.Stall = std::chrono::seconds(2);
        return r;
    };
    server.Add("/", slow("text/html", "<a href=a.html>a</a><img src=1.gif><img src=2.gif>"
                                      "<img src=3.gif><img src=4.gif><img src=5.gif>"));
    server.Add("/a.html", slow("text/html", "<img src=6.gif><img src=7.gif><img src=1.gif>"));
    for (int i = 1; i <= 7; ++i)
        server.Add("/" + std::to_string(i) + ".gif", slow("image/gif", "GIF89a"));
    if (address.isEmpty() && !server.Start())
        return 1;
    const QString start =
        address.isEmpty() ? QString::fromStdString(server.Url("/")) : address;

    TFrmMain window;
    bool finished = false;
    window.Hooks.MessageBox = [&](const QString&) { finished = true; };
    // No modal box may hold the loop: an error ends the run, and the results
    // go unsaved when the window closes on quit.
    bool failed = false;
    window.Hooks.ErrorBox = [&](const QString&) { finished = failed = true; };
    window.Hooks.AskToSave = [] { return TSaveChoice::Discard; };
    window.show();
    window.ApplyDelay("0");

    QElapsedTimer clock;
    qint64 last = 0, maxGap = 0, ticks = 0;
    QTimer heartbeat;
    heartbeat.setInterval(10);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (ticks++ > 0)
            maxGap = std::max(maxGap, now - last);
        last = now;
        if (finished)
            app.quit();
    });
    clock.start();
    heartbeat.start();
    QTimer::singleShot(0, [&] { window.StartCrawl(start); });
    QTimer::singleShot(120000, [&] { app.quit(); });
    app.exec();
    std::printf("crawl_seconds=%.1f\nheartbeat_ticks=%lld\nheartbeat_max_gap_ms=%lld\n",
                static_cast<double>(clock.elapsed()) / 1000.0, ticks, maxGap);
    return finished && !failed ? 0 : 1;
}
