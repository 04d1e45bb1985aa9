#include "TCrawlOptions.h"

#include <QRegularExpression>

#include <algorithm>

TSchedulerOptions TCrawlOptions::Scheduler() const {
    TSchedulerOptions options;
    options.Total = std::max(Connections, 1);
    options.PerHost = std::clamp(PerHost, 1, options.Total);
    options.HostGap = std::chrono::milliseconds(std::max(HostGapMs, 0));
    options.Retries = std::max(Retries, 0);
    options.RetryWaits = RetryWaits;
    options.MaxWait = std::chrono::seconds(std::max(MaxWaitSeconds, 0));
    if (!UserAgent.empty())
        options.UserAgent = UserAgent;
    options.NoProxy = "127.0.0.1";
    return options;
}

std::string TCrawlOptions::ScopeError() const {
    for (const auto& [name, pattern] : {std::pair{"include", &Include}, {"exclude", &Exclude}}) {
        const QRegularExpression expression(QString::fromStdString(*pattern));
        if (!expression.isValid())
            return std::string(name) + ": " + expression.errorString().toStdString();
    }
    return {};
}
