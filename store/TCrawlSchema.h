#pragma once
// The layout of a crawl file (docs/CRAWL-FILE.md), the one place that knows
// it: its identity and version, the meta and options tables, the report's
// tables, the journal of answers and the queue. TCrawlFile writes a file
// whole through it, TCrawlRecorder as the crawl goes; both read it back
// through it.

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

class TCrawlDb;
class TRecordStore;
struct TCrawlOptions;
struct TCrawlProgress;
struct TReport;

class TCrawlSchema {
public:
    using TPairs = std::vector<std::pair<std::string, std::string>>;

    static constexpr const char* NotACrawlFile = "not a Marrowby crawl file";
    // Where the crawl stood when the file was written last (meta's state).
    static constexpr const char* Running = "running";
    static constexpr const char* Stopped = "stopped";
    static constexpr const char* Finished = "finished";

    // Whether a crawl file may be written at path: nothing is there, an
    // empty file, or a crawl file (SQLite's header with our application id).
    // Empty when it may, else why not, naming the file.
    static std::string CheckReplaceable(const std::string& path);
    // Renames the file from to path, in place of a file there, and syncs the
    // folder. SQLite's journals of the file replaced (-wal, -shm, -journal)
    // are removed first: left there, they would be read into the new file.
    // Empty, else what went wrong.
    static std::string Replace(const std::string& from, const std::string& path);
    // Removes the file at path and its journals.
    static void Remove(const std::string& path);
    // The temporary name beside path a file is made under before it takes
    // path's place.
    static std::string PartOf(const std::string& path);
    // Writes a crawl file at path whole or not at all: refused where
    // CheckReplaceable says so; else write(part) makes it under a temporary
    // name beside path (returning why it could not, else empty), and it is
    // renamed over path once made. Empty, else "PATH: cannot be written: why"
    // (no temporary file is left then).
    static std::string
    WriteBeside(const std::string& path,
                const std::function<std::string(const std::string& part)>& write);

    // Writes a whole crawl file into an empty database, in one transaction:
    // identity and version, meta (about, state and counters), options (with
    // about's "delay" and "site"), the report's tables of store with its
    // rows (indexed when state is Finished), an empty journal of answers and
    // an empty queue.
    static bool Write(TCrawlDb& db, const TRecordStore& store, const TCrawlOptions& options,
                      const TReport& about, const char* state, const TCrawlProgress& counters);
    // The report's tables of store that are not its rows (pages, objects,
    // external, redirects: dropped and made again, rows, then indexes) and
    // the verdicts of the rows' addresses, in place of those in the file,
    // inside the caller's transaction. The rows are TCrawlRowWriter's.
    static bool WriteReportTables(TCrawlDb& db, const TRecordStore& store);
    // The tables of the link rows and referrers, and their views, when the
    // file has none yet.
    static bool CreateRowTables(TCrawlDb& db);
    // The rows, their verdicts and their indexes gone.
    static bool ClearRows(TCrawlDb& db);
    // The rows' indexes, made from the rows, unless made already.
    static bool IndexRows(TCrawlDb& db);
    // The referrers' index by address alone, unless made already: made when
    // a crawl reads its referrers back from the file as it goes, and kept up
    // to date from then on.
    static bool IndexReferrers(TCrawlDb& db);
    // A file of an earlier version brought up to this one, inside the
    // caller's transaction: from version 1, the journal of answers and the
    // queue (meta's counters and state are a finished crawl's); from 1 and
    // 2, the tables of the rows (empty) in place of links and referrers;
    // the version raised.
    static bool Upgrade(TCrawlDb& db, int version);
    // Sets the rows of meta.
    static bool WriteMeta(TCrawlDb& db, const TPairs& values);
    // The queue in place of the file's: the addresses still to visit, in order.
    static bool WriteQueue(TCrawlDb& db, const std::vector<std::string>& queue);
    // An ended crawl's file made in the empty database db: the file at
    // source as last committed (meta, options, the rows, copied as they
    // are), the report's tables of store, the queue and meta's values, an
    // empty journal of answers, the rows indexed. Written without a journal
    // of its own: of use only once whole, and synced by the caller.
    static bool WriteFinished(TCrawlDb& db, const std::string& source, const TRecordStore& store,
                              const std::vector<std::string>& queue, const TPairs& meta);
    // The tables an ended crawl's file at from holds besides the rows (meta,
    // the queue, the verdicts, the report's tables) in place of the file's
    // own, its answers gone and its rows indexed, in one transaction.
    static bool TakeFinished(TCrawlDb& db, const std::string& from);
    // meta's rows of about's start address and times, and the time now.
    static TPairs AboutMeta(const TReport& about);
    static TPairs CounterMeta(const TCrawlProgress& counters);

    // What Check read of a file.
    struct TMeta {
        int Version = 0;
        std::map<std::string, std::string> Values;
    };
    // Checks that the file is a crawl file this version reads (identity,
    // version, meta, options, the report's tables and, from version 2, the
    // journal and the queue, with their columns) and reads its options and
    // about (start address, times, and "delay" and "site" among its
    // options). Empty, else what is wrong, naming the file.
    static std::string Check(TCrawlDb& db, const std::string& path, TCrawlOptions& options,
                             TReport& about, TMeta& meta);
    // Reads the report's tables of a checked file of version into store,
    // which must be empty. Empty, else what is wrong, naming the file.
    static std::string ReadReportTables(TCrawlDb& db, const std::string& path, int version,
                                        TRecordStore& store);
};
