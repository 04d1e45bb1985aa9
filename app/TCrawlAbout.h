#pragma once
// What crawl a report or a crawl file is of: the start address, when it
// started and ended, and the options as given. The headless run and the
// window fill it the same way, here.

#include "report/TReport.h"

#include <QString>

#include <string>
#include <string_view>

class TSiteServer;
struct TCrawlOptions;

class TCrawlAbout {
public:
    // A crawl of typed begins now with this pause and these options: the
    // start address, the time and the options are added to about (after
    // any it holds already, such as the folder served).
    static void Begin(TReport& about, const QString& typed, int delaySeconds,
                      const TCrawlOptions& options);
    // The options as given, added to about's.
    static void Describe(TReport& about, int delaySeconds, const TCrawlOptions& options);
    // The time now as about's times are written (ISO 8601 UTC).
    static std::string Now();
    // The option of about called name, as given; empty when not given.
    static std::string Option(const TReport& about, std::string_view name);
    // The pause the crawl of about ran with; fallback when not given.
    static int Delay(const TReport& about, int fallback);
    // A crawl of a folder served (its "site" option) is served again on the
    // port its addresses name, so that it can go on. Returns why it cannot
    // be, else an empty string (also for a crawl of no folder).
    static std::string ServeAgain(const TReport& about, TSiteServer& site);
};
