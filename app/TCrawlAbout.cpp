#include "TCrawlAbout.h"

#include "crawl/TCrawl.h"
#include "crawl/TCrawlOptions.h"
#include "site/TSiteServer.h"

#include <QDateTime>
#include <QUrl>

void TCrawlAbout::Begin(TReport& about, const QString& typed, int delaySeconds,
                        const TCrawlOptions& options) {
    about.Start = TCrawl::StartAddress(typed);
    Describe(about, delaySeconds, options);
    about.Started = Now();
}

void TCrawlAbout::Describe(TReport& about, int delaySeconds, const TCrawlOptions& options) {
    about.Options.emplace_back("delay", std::to_string(delaySeconds));
    about.Options.emplace_back("connections", std::to_string(options.Connections));
    about.Options.emplace_back("per-host", std::to_string(options.PerHost));
    about.Options.emplace_back("external", options.External ? "on" : "off");
    about.Options.emplace_back("robots", options.Robots ? "on" : "off");
    about.Options.emplace_back("confirm", options.Confirm ? "on" : "off");
}

std::string TCrawlAbout::Now() {
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toStdString();
}

std::string TCrawlAbout::Option(const TReport& about, std::string_view name) {
    for (const auto& [key, value] : about.Options)
        if (key == name)
            return value;
    return {};
}

int TCrawlAbout::Delay(const TReport& about, int fallback) {
    bool ok = false;
    const int seconds = QString::fromStdString(Option(about, "delay")).toInt(&ok);
    return ok && seconds >= 0 ? seconds : fallback;
}

std::string TCrawlAbout::ServeAgain(const TReport& about, TSiteServer& site) {
    const std::string folder = Option(about, "site");
    if (folder.empty())
        return {};
    const int port = QUrl(QString::fromStdString(about.Start)).port();
    if (port <= 0)
        return "cannot serve \"" + folder + "\" again: no port in " + about.Start;
    return site.Start(folder, static_cast<std::uint16_t>(port));
}
