// The window's lists with a million rows: the window is told the rows of a
// crawl of the million-page site (every page two objects of its own, each
// used by two pages) the way a crawl tells them, a page an event-loop turn,
// each row put into the crawl's records before the window hears of it; then
// a person sorts the pages by a column, filters them, and the crawl goes on
// while they are sorted, for a tenth more pages. A 10 ms heartbeat timer on
// the GUI thread measures the longest stall meanwhile.
//   bench_lists [PAGES [SECONDS]]   (1,000,000 pages; each feeding stops
//                                    after SECONDS, 600, with what came in)
//   bench_lists --store-only [PAGES]  the records alone: the heap they take,
//                                    and the longest page they take alone
// Prints KEY=VALUE lines: times in ms, heap in MiB (glibc's count of the
// bytes in use, so what the lists keep beside the records is the difference
// from a --store-only run).
#include "TApplication.h"
#include "TFrmMain.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

namespace {

double HeapMiB() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
}

// The rows of page i (from 1) of the generated site: one in a hundred is
// broken, and its two objects, each first met here or on the page before.
struct TSite {
    std::string Host = "http://127.0.0.1:18790/";

    TGoneRow Page(int i) const {
        const bool broken = i % 100 == 0;
        return {i,
                1 + i / 10,
                Host + "p" + std::to_string(i) + ".html",
                broken ? 162 : 700 + i % 5000,
                broken ? 404 : 200,
                "text/html",
                broken ? TVerdict::Broken : TVerdict::Fine,
                broken ? "404 Not Found" : "200 OK"};
    }
    std::string Object(int i, int k) const {
        return Host + "img/o" + std::to_string((2 * i + k) / 2 % 500000 * 2 + k) + ".gif";
    }
};

// What TCrawl does with the records and its listener for one page.
class TCrawlPlay {
public:
    TCrawlPlay(TRecordStore& records, TCrawlListener* listener)
        : FRecords(records), FListener(listener) {}

    void Page(const TSite& site, int i) {
        const TGoneRow row = site.Page(i);
        FRecords.AddPageRow(row);
        TAddressEntry& page = FRecords.Entry(row.Url);
        page.Verdict = row.Verdict;
        page.Reason = FRecords.Keep(row.Reason);
        if (FListener) {
            FListener->PageRow(row);
            FListener->ObjectsCleared();
        }
        for (int k = 0; k < 2; ++k) {
            const std::string url = site.Object(i, k);
            TAddressEntry& entry = FRecords.Entry(url);
            if (entry.Object) {
                ++entry.Object->Count;
            } else {
                auto fresh = std::make_unique<_TObjectType>();
                fresh->Url = url;
                fresh->Kind = KIND_OBJECT;
                fresh->Count = 1;
                fresh->Id = ++FLastObjectId;
                fresh->ContentType = "image/gif";
                fresh->Size = 106 + FLastObjectId % 400;
                fresh->Status = 200;
                entry.Object = std::move(fresh);
                entry.Reason = FRecords.Keep("200 OK");
                FRecords.CountObject();
            }
            if (FListener)
                FListener->ObjectRow(TObjectRow::Of(*entry.Object, entry.Verdict, entry.Reason));
        }
    }

private:
    TRecordStore& FRecords;
    TCrawlListener* FListener;
    std::int32_t FLastObjectId = 0;
};

// The longest gap between two ticks of a 10 ms timer, from Reset on.
class THeartbeat {
public:
    THeartbeat() {
        FTimer.setInterval(10);
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            const qint64 now = FClock.elapsed();
            FMaxGap = std::max(FMaxGap, now - FLast);
            FLast = now;
        });
        FClock.start();
        FTimer.start();
    }
    void Reset() {
        FLast = FClock.elapsed();
        FMaxGap = 0;
    }
    qint64 MaxGap() const { return FMaxGap; }

private:
    QTimer FTimer;
    QElapsedTimer FClock;
    qint64 FLast = 0, FMaxGap = 0;
};

void Print(const char* key, double value) {
    std::printf("%s=%.1f\n", key, value);
    std::fflush(stdout);
}

// Runs the event loop until done, or for ms at most.
void Pump(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

// Feeds pages first..last, a page an event-loop turn, for at most seconds;
// returns the last page fed.
int Feed(TCrawlPlay& play, const TSite& site, int first, int last, int seconds,
         THeartbeat& heartbeat, const char* name) {
    int next = first;
    QElapsedTimer clock;
    clock.start();
    qint64 lastTenth = 0;
    const int tenth = std::max(1, (last - first + 1) / 10);
    heartbeat.Reset();
    QTimer feeder;
    feeder.setInterval(0);
    QObject::connect(&feeder, &QTimer::timeout, [&] {
        play.Page(site, next);
        if ((next - first + 1) % tenth == 0) {
            const qint64 now = clock.elapsed();
            std::fprintf(stderr, "%s: %d pages, %.1f s, the last %d in %.1f s\n", name,
                         next - first + 1, static_cast<double>(now) / 1000.0, tenth,
                         static_cast<double>(now - lastTenth) / 1000.0);
            lastTenth = now;
        }
        ++next;
        if (next > last || clock.elapsed() > qint64(seconds) * 1000)
            feeder.stop();
    });
    feeder.start();
    Pump([&] { return !feeder.isActive(); }, seconds * 1000 + 60000);
    const double ms = static_cast<double>(clock.elapsed());
    // The rows a batch holds back are shown, and the view laid out.
    Pump([] { return false; }, 300);
    std::printf("%s_pages=%d\n", name, next - first);
    Print((std::string(name) + "_ms").c_str(), ms);
    Print((std::string(name) + "_us_per_page").c_str(), ms * 1000.0 / (next - first));
    Print((std::string(name) + "_max_gap_ms").c_str(), static_cast<double>(heartbeat.MaxGap()));
    return next - 1;
}

// Runs act, and prints how long it took and the longest stall around it.
void Timed(const char* name, THeartbeat& heartbeat, const std::function<void()>& act) {
    heartbeat.Reset();
    QElapsedTimer clock;
    clock.start();
    act();
    const double ms = static_cast<double>(clock.elapsed());
    Pump([] { return false; }, 100);
    Print((std::string(name) + "_ms").c_str(), ms);
    Print((std::string(name) + "_max_gap_ms").c_str(), static_cast<double>(heartbeat.MaxGap()));
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_NO_GLIB", "1", 0);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const bool storeOnly = argc > 1 && std::strcmp(argv[1], "--store-only") == 0;
    const int at = storeOnly ? 2 : 1;
    const int pages = argc > at ? std::atoi(argv[at]) : 1000000;
    const int seconds = argc > at + 1 ? std::atoi(argv[at + 1]) : 600;
    int appArgc = 1;
    TApplication app(appArgc, argv);
    const TSite site;

    if (storeOnly) {
        TRecordStore records;
        TCrawlPlay play(records, nullptr);
        const double before = HeapMiB();
        QElapsedTimer clock, page;
        clock.start();
        qint64 longest = 0;
        for (int i = 1; i <= pages; ++i) {
            page.start();
            play.Page(site, i);
            longest = std::max(longest, page.elapsed());
        }
        Print("store_us_per_page", static_cast<double>(clock.nsecsElapsed()) / 1000.0 / pages);
        Print("store_longest_page_ms", static_cast<double>(longest));
        Print("store_heap_mib", HeapMiB() - before);
        return 0;
    }

    TFrmMain window;
    window.Hooks.AskToSave = [] { return TSaveChoice::Discard; };
    window.resize(1000, 700);
    window.show();
    Pump([] { return false; }, 300);
    // The bench plays the crawl: its records are the window's crawl's, as
    // the crawl itself would fill them.
    auto& records = const_cast<TRecordStore&>(window.Crawl().Records());
    TCrawlPlay play(records, &window);
    THeartbeat heartbeat;

    const double heap = HeapMiB();
    const int fed = Feed(play, site, 1, pages, seconds, heartbeat, "append");
    Print("window_heap_mib", HeapMiB() - heap);

    // What the tree view does with every batch: lay every row out again.
    Timed("layout", heartbeat, [&] { window.GoneListView->doItemsLayout(); });
    QHeaderView* heading = window.GoneListView->header();
    auto click = [&](int column) {
        QTest::mouseClick(
            heading->viewport(), Qt::LeftButton, {},
            QPoint(heading->sectionViewportPosition(column) + 5, heading->height() / 2));
    };
    Timed("sort_size", heartbeat, [&] { click(3); });
    Timed("sort_size_again", heartbeat, [&] { click(3); });
    Timed("sort_uri", heartbeat, [&] { click(2); });
    Timed("filter_broken", heartbeat, [&] {
        window.VerdictFilterBox->setFocus();
        QTest::keyClick(window.VerdictFilterBox, Qt::Key_Down);
    });
    std::printf("filter_broken_rows=%d\n", window.GoneListView->model()->rowCount());
    Timed("filter_all", heartbeat, [&] {
        window.VerdictFilterBox->setFocus();
        QTest::keyClick(window.VerdictFilterBox, Qt::Key_Home);
    });
    Timed("filter_text_two_keys", heartbeat, [&] { QTest::keyClicks(window.FilterEdit, "p9"); });
    std::printf("filter_text_rows=%d\n", window.GoneListView->model()->rowCount());
    Timed("filter_text_clear", heartbeat, [&] { window.FilterEdit->clear(); });
    // The crawl goes on while the pages are sorted by their address: a tenth
    // more pages.
    Feed(play, site, fed + 1, fed + std::max(10000, fed / 10), seconds, heartbeat, "append_sorted");
    Print("heap_mib", HeapMiB());
    return 0;
}
