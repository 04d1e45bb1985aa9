// A crawl kept in a journal of its answers and taken up again: read back to
// where it stopped without asking anything, then gone on with, it ends as an
// uninterrupted crawl does.
#include "TCrawlDriver.h"
#include "TTestSite.h"
#include "crawl/TCrawlJournal.h"
#include "report/TCrawlReport.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <map>
#include <sstream>

namespace {

// A journal in memory: what is recorded is kept at a commit; what is not
// committed is lost with the crawl, as a killed process loses it.
struct TMemoryJournal : TCrawlJournal {
    std::map<std::string, std::deque<TAnswer>> Kept;
    std::vector<std::pair<std::string, TAnswer>> Pending;
    std::size_t Committed = 0;
    int Replayed = 0;
    std::string FailAt; // a commit that fails, as on a full disk

    std::optional<TAnswer> Replay(const std::string& key) override {
        auto& answers = Kept[key];
        if (answers.empty())
            return std::nullopt;
        TAnswer answer = std::move(answers.front());
        answers.pop_front();
        ++Replayed;
        return answer;
    }
    void Record(const std::string& key, const TAnswer& answer) override {
        Pending.emplace_back(key, answer);
    }
    std::string Commit(const TCrawlProgress& progress, const TRecordStore&) override {
        if (!FailAt.empty() && progress.Pages >= 2)
            return FailAt;
        for (auto& [key, answer] : Pending)
            Kept[key].push_back(std::move(answer));
        Pending.clear();
        Committed = progress.Pages;
        return {};
    }
    std::size_t PagesCommitted() const override { return Committed; }
};

TCrawlOptions Options() {
    TCrawlOptions options;
    options.Retries = 0;
    options.Confirm = false;
    return options;
}

// Every file of the report, by name.
std::map<std::string, std::string> Report(const TCrawl& crawl) {
    QTemporaryDir dir;
    EXPECT_EQ(TCrawlReport::Write(crawl.Records(), dir.path().toStdString()), "");
    std::map<std::string, std::string> files;
    for (const QString& name : QDir(dir.path()).entryList(QDir::Files)) {
        std::ifstream file(dir.filePath(name).toStdString(), std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        files[name.toStdString()] = text.str();
    }
    return files;
}

struct TReopened : TRecordingListener {
    bool Done = false;
    void Reopened() override { Done = true; }
};

} // namespace

TEST(Journal, AStoppedCrawlReadBackAndGoneOnWithEndsAsAnUninterruptedOne) {
    TTestSite site;
    TCrawlDriver whole;
    whole.Crawl->SetOptions(Options());
    ASSERT_TRUE(whole.Run(site.Home(), 0));
    const auto expected = Report(*whole.Crawl);
    const std::size_t pages = whole.Listener.PageRows.size();
    ASSERT_GE(pages, 5u);

    // Stopped after this many page rows; read back (window) or resumed (headless).
    const struct {
        std::size_t StopAfter;
        bool Reopen;
    } cases[] = {{1, true}, {3, true}, {pages - 1, true}, {2, false}, {pages, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.StopAfter) + (c.Reopen ? " reopened" : " resumed"));
        TMemoryJournal journal;
        {
            TCrawlDriver first;
            first.Crawl->SetOptions(Options());
            first.Crawl->SetJournal(&journal);
            first.Crawl->ApplyDelay("0");
            first.Crawl->Enter(QString::fromStdString(site.Home()));
            ASSERT_TRUE(TCrawlDriver::PumpUntil(
                [&] { return first.Listener.PageRows.size() >= c.StopAfter; }));
            first.Crawl->Stop(); // as a kill: what was not committed is lost
            journal.Pending.clear();
        }
        // A request the stopped crawl had sent may still reach the server.
        std::size_t asked = 0;
        for (int i = 0; i < 20 && asked != site.Server.Requests().size(); ++i) {
            asked = site.Server.Requests().size();
            TCrawlDriver::PumpUntil([] { return false; }, 150);
        }
        TReopened listener;
        TCrawl crawl(listener);
        crawl.SetOptions(Options());
        crawl.SetJournal(&journal);
        crawl.ApplyDelay("60"); // a crawl read back does not pause
        if (c.Reopen) {
            crawl.Reopen(QString::fromStdString(site.Home()));
            ASSERT_TRUE(TCrawlDriver::PumpUntil([&] { return listener.Done; }));
            EXPECT_EQ(listener.PageRows.size(), journal.Committed);
            EXPECT_EQ(site.Server.Requests().size(), asked) << "a crawl read back asks nothing";
            EXPECT_TRUE(listener.Finishes.isEmpty());
        }
        crawl.ApplyDelay("0");
        crawl.Enter(QString::fromStdString(site.Home()));
        ASSERT_TRUE(TCrawlDriver::PumpUntil([&] { return !listener.Finishes.isEmpty(); }));
        EXPECT_GT(journal.Replayed, 0);
        EXPECT_EQ(listener.PageRows, whole.Listener.PageRows);
        EXPECT_EQ(Report(crawl), expected);
    }
}

// A halt keeps what came in the pause: the check of a link elsewhere that
// answered after the page was kept shows when the crawl is read back.
TEST(Journal, WhatCameInThePauseIsKeptAtAHalt) {
    TTestSite site;
    TCannedResponse slow = TTestSite::Page("200 OK", "text/html", "<p>elsewhere</p>");
    slow.StallAfter = 0;
    slow.Stall = std::chrono::milliseconds(300);
    site.Other.Add("/x", slow);
    TMemoryJournal journal;
    std::map<std::string, std::string> halted;
    {
        TCrawlDriver first;
        first.Crawl->SetOptions(Options());
        first.Crawl->SetJournal(&journal);
        first.Crawl->ApplyDelay("60");
        first.Crawl->Enter(QString::fromStdString(site.Home()));
        ASSERT_TRUE(TCrawlDriver::PumpUntil(
            [&] { return first.Crawl->Records().ExternalsApplied() == 1; }));
        first.Crawl->Halt();
        halted = Report(*first.Crawl);
        first.Crawl->Stop();
        journal.Pending.clear();
    }
    TReopened listener;
    TCrawl crawl(listener);
    crawl.SetOptions(Options());
    crawl.SetJournal(&journal);
    crawl.Reopen(QString::fromStdString(site.Home()));
    ASSERT_TRUE(TCrawlDriver::PumpUntil([&] { return listener.Done; }));
    EXPECT_EQ(Report(crawl), halted);
}

// A commit that cannot be made (a full disk) halts the crawl with its reason.
TEST(Journal, ACommitThatFailsHaltsTheCrawl) {
    TTestSite site;
    TMemoryJournal journal;
    journal.FailAt = "cannot write the crawl file: No space left on device";
    TCrawlDriver driver;
    driver.Crawl->SetOptions(Options());
    driver.Crawl->SetJournal(&journal);
    driver.Crawl->ApplyDelay("0");
    driver.Crawl->Enter(QString::fromStdString(site.Home()));
    ASSERT_TRUE(TCrawlDriver::PumpUntil([&] { return !driver.Listener.Errors.isEmpty(); }));
    EXPECT_EQ(driver.Listener.Errors.front().toStdString(), journal.FailAt);
    TCrawlDriver::PumpUntil([] { return false; }, 300);
    EXPECT_EQ(driver.Listener.PageRows.size(), 2u);
    EXPECT_TRUE(driver.Listener.Finishes.isEmpty());
}
