#pragma once
// A crawl file's recorder (TCrawlRecorder) on a thread of its own, so that
// the crawl does not wait for SQLite between two pages: what is recorded and
// each page's commit are handed over and written while the crawl asks for
// the next page. Everything else (opening, reading answers back, the tables
// of a halt, a copy) waits for what was handed over before, then runs there
// too: the recorder and its connection are made, used and dropped on that
// thread, as Qt SQL wants.
//
// A commit is written while the next page is fetched (the rows of its pages
// taken from the crawl's store first, as values): when Commit returns,
// every page before it is kept, and a killed process loses at most the page
// being kept and the one in flight, whose answers come again. A commit that
// fails says so at the next Commit (or WriteTables); the recorder keeps its
// answers for the next one to try again.

#include "crawl/TCrawlJournal.h"
#include "crawl/TRowReader.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class TCrawlDb;
class TCrawlRecorder;
class TRecordStore;
struct TCrawlOptions;
struct TReport;

class TRecorderThread : public TCrawlJournal, public TRowReader {
public:
    ~TRecorderThread() override;

    // As TCrawlRecorder::Create and Open.
    static std::unique_ptr<TRecorderThread> Create(const std::string& path,
                                                   const TCrawlOptions& options,
                                                   const TReport& about, std::string& error);
    static std::unique_ptr<TRecorderThread> Open(const std::string& path, TCrawlOptions& options,
                                                 TReport& about, std::string& error);

    bool Finished() const noexcept { return FFinished; }
    const std::string& Path() const noexcept { return FPath; }

    // TCrawlJournal. Replay waits for the recorder (not at all when the file
    // held nothing to replay); Record and Commit do not.
    std::optional<TAnswer> Replay(const std::string& key) override;
    void Record(const std::string& key, const TAnswer& answer) override;
    std::string Commit(const TCrawlProgress& progress, const TRecordStore& records) override;
    std::size_t PagesCommitted() const override { return FPagesCommitted; }
    // The link rows and references of the pages committed are read back
    // from the file, on the caller's thread through a connection of its
    // own, once what was handed over is written.
    const TRowReader* KeptRows() const override { return this; }
    std::size_t MergedKept() const override;
    bool ReadLinks(std::size_t from, std::size_t to, const TLinkVisit& visit) const override;
    bool ReadPages(std::size_t from, std::size_t to, const TPageVisit& visit) const override;
    bool ReadReferences(std::int32_t address, std::size_t to,
                        const TReferenceVisit& visit) const override;

    // As TCrawlRecorder's, once what was handed over is written; a commit
    // that failed meanwhile is what they say.
    std::string WriteTables(const TRecordStore& store, const std::vector<std::string>& queue,
                            const TReport& about, bool finished);
    // The same in two steps, so that the caller goes on while the tables
    // are written: an ended crawl's report is written meanwhile, reading the
    // rows through the caller's own connection (store must stand still
    // until EndTables). EndTables waits for them, closes that connection and
    // makes an ended crawl's file one file again; it returns what
    // WriteTables would.
    void BeginTables(const TRecordStore& store, std::vector<std::string> queue, TReport about,
                     bool finished);
    std::string EndTables();
    std::string CopyTo(const std::string& path) const;

private:
    TRecorderThread();
    // Runs job on the thread after what was handed over before; waits for it.
    void Call(const std::function<void()>& job) const;
    // Hands job over to run after what was handed over before.
    void Post(std::function<void()> job);
    // Queues the answers recorded since the last job (the lock held).
    void HandOverAnswers() const;
    // The error of a commit handed over that failed, taken; empty if none.
    std::string TakeFailure();
    void WaitForCommits() const;
    // Calls read with the rows of the file: the recorder's on the thread
    // (the tables of a halt read them as they are written), else the
    // caller's connection once what was handed over is written.
    bool Read(const std::function<bool(const TRowReader& rows)>& read) const;

    struct TThread;
    std::unique_ptr<TThread> FThread;
    std::unique_ptr<TCrawlRecorder> FRecorder; // used on the thread only
    // The caller's connection, for reading rows back; made when first needed.
    mutable std::unique_ptr<TCrawlDb> FReader;
    // Answers recorded and not handed over yet (the caller's).
    mutable std::vector<std::pair<std::string, TAnswer>> FAnswers;
    // The referrers' index was asked for (by the caller's thread).
    mutable bool FReferrersIndexed = false;
    std::string FPath;
    bool FFinished = false;
    // What the tables BeginTables handed over came to (set on the thread).
    std::string FTablesError;
    bool FReplayable = false;
    std::size_t FPagesCommitted = 0;
};
