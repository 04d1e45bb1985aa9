#pragma once
// Runs a crawl in a test: a listener that records what the crawl tells, and
// bounded waits.

#include "PumpUntil.h"
#include "crawl/TCrawl.h"

#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

using Rows = std::vector<std::vector<std::string>>;

struct TRecordingListener : TCrawlListener {
    QStringList Statuses, Captions, Finishes, Errors;
    Rows PageRows, ObjectRows; // the object rows since the list was last cleared
    std::map<TCrawlCounter, std::size_t> Counts;
    std::uint32_t ClockSeconds = 0;
    QString PauseLabel;
    int PausePosition = 0;

    void Status(const QString& text) override { Statuses << text; }
    void Caption(const QString& text) override { Captions << text; }
    // Of pages and objects, in order: "address: verdict, reason".
    QStringList Reasons;
    void PageRow(const TGoneRow& r) override {
        Reasons << Reason(r);
        PageRows.push_back({std::to_string(r.Id), std::to_string(r.Depth), r.Url,
                            std::to_string(r.Size), std::to_string(r.Status), r.Type});
    }
    void ObjectsCleared() override { ObjectRows.clear(); }
    void ObjectRow(const TObjectRow& r) override {
        Reasons << Reason(r);
        ObjectRows.push_back({std::to_string(r.Id), r.Url, std::to_string(r.Size),
                              std::to_string(r.Status), r.Type, std::to_string(r.Count)});
    }
    template <class Row> static QString Reason(const Row& r) {
        return QString::fromStdString(r.Url + ": " + std::string(TVerdicts::Name(r.Verdict)) +
                                      ", " + r.Reason);
    }
    // The rows judged again at the end ("page 3", "object 2", "link 1"), and
    // what the confirmation pass said was left.
    std::vector<std::string> Changed;
    std::vector<std::size_t> ConfirmingLeft;
    void PageRowChanged(std::size_t at, const TGoneRow&) override {
        Changed.push_back("page " + std::to_string(at));
    }
    void ObjectChanged(const TObjectRow& r) override {
        Changed.push_back("object " + std::to_string(r.Id));
    }
    void ExternalRow(const TExternalRow& r) override {
        if (Finishes.isEmpty() && !ConfirmingLeft.empty())
            Changed.push_back("link " + std::to_string(r.Id));
    }
    void Confirming(std::size_t left) override { ConfirmingLeft.push_back(left); }
    void Count(TCrawlCounter counter, std::size_t value) override { Counts[counter] = value; }
    void Clock(std::uint32_t seconds) override { ClockSeconds = seconds; }
    void Pause(const QString& label, int position) override {
        PauseLabel = label;
        PausePosition = position;
    }
    void Finished(const QString& text) override { Finishes << text; }
    void Error(const QString& text) override { Errors << text; }
};

struct TCrawlDriver {
    TRecordingListener Listener;
    std::unique_ptr<TCrawl> Crawl = std::make_unique<TCrawl>(Listener);

    static bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
        return ::PumpUntil(done, timeoutMs);
    }

    bool Finished() const { return Listener.Finishes.contains("탐색이 끝났습니다"); }

    bool Run(const std::string& url, int delay, int timeoutMs = 30000) {
        Crawl->ApplyDelay(QString::number(delay));
        Crawl->Enter(QString::fromStdString(url));
        return PumpUntil([this] { return Finished(); }, timeoutMs);
    }
};
