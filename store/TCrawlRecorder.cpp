#include "TCrawlRecorder.h"

#include "TAnswerCodec.h"
#include "TCrawlDb.h"
#include "TCrawlFile.h"
#include "TCrawlRowWriter.h"
#include "TCrawlSchema.h"
#include "TLogCopier.h"

#include "crawl/TRecordStore.h"
#include "report/TReport.h"

#include <QSqlQuery>

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace {

// More answers than a file of a terabyte holds.
constexpr qint64 MaxAnswers = qint64(1) << 30;

} // namespace

struct TCrawlRecorder::TState {
    std::string Path;
    TCrawlDb Db;
    bool Finished = false;
    // The file's version: one before this is brought up to it by the first
    // write (a file of version 1 has no journal before).
    int Version = TCrawlFile::Version;
    // A file opened: the rows it holds are cleared by the first write, which
    // writes the store's instead (a crawl read back merges its pages again).
    bool ClearRows = false;
    // The referrers' index by address is there: made when they are first
    // read back (IndexReferrers), kept up to date from then on.
    bool ReferrersIndexed = false;
    bool Wal = false;
    std::size_t PagesCommitted = 0;
    // The counters as the last commit wrote them: a commit writes only those
    // that changed since (most pages change two of them).
    TCrawlSchema::TPairs Counters;
    // The answers the file held when opened are seq 1 to ReplayEnd; those
    // taken are marked, a bit an answer, so that a key's next answer is its
    // first not taken. Answers recorded since are never replayed.
    qint64 ReplayEnd = 0;
    std::vector<bool> Taken;
    qint64 TakenCount = 0;
    // The answers' index by key is there (made by the first Replay).
    bool Indexed = false;
    // Recorded since the last commit, the answer encoded.
    struct TPending {
        std::string Key;
        int Status;
        std::string Reason;
        QByteArray Data;
    };
    std::vector<TPending> Pending;
    TAnswerCodec Codec;
    // Prepared when first needed (a file of version 1 has no answers yet);
    // after Db, so that they go before the connection does.
    std::optional<QSqlQuery> SeqsOf, DataOf;
    // meta's state as last written: written again only when it changes.
    std::string State;
    // The link rows and referrers, written as the pages are merged; after
    // the queries too, so that its statements go before the connection.
    std::optional<TCrawlRowWriter> Rows;
    // How far the rows of the crawl's store have been taken (TakeRows), and
    // those taken and not committed yet.
    TCrawlRowWriter::TMark Mark;
    std::vector<TCrawlRowWriter::TRows> PendingRows;
    // The merged pages whose rows the file holds.
    std::size_t MergedKept = 0;
    // An ended crawl's file made small, waiting beside it to take its place
    // (OneFile); removed should that never come.
    std::string Compacted;
    // Copies the log into the file while pages are committed; none while
    // the tables are written, whose log SQLite's hook copies as it grows.
    std::unique_ptr<TLogCopier> Copier;

    // The rows taken have been committed.
    void RowsKept() {
        for (const TCrawlRowWriter::TRows& rows : PendingRows)
            MergedKept = std::max(MergedKept, rows.Merged);
        PendingRows.clear();
    }
    // The rows taken and not committed yet, inside the write begun.
    bool WriteRows() {
        for (const TCrawlRowWriter::TRows& rows : PendingRows)
            if (!Rows->Write(rows))
                return false;
        return true;
    }

    QSqlQuery* Prepared(std::optional<QSqlQuery>& query, const char* sql) {
        if (!query) {
            query.emplace(Db.Query());
            query->setForwardOnly(true); // rows read once, not cached
            if (!query->prepare(QString::fromLatin1(sql))) {
                query.reset();
                return nullptr;
            }
        }
        return &*query;
    }
    // The prepared statements let go of, for what needs the file to itself
    // (VACUUM, the journal's mode).
    void Unprepare() {
        SeqsOf.reset();
        DataOf.reset();
        Rows.emplace(Db);
    }
    ~TState() {
        if (!Compacted.empty())
            TCrawlSchema::Remove(Compacted);
    }
    // The connection closed, its statements first (Connect opens it again).
    void Disconnect() {
        SeqsOf.reset();
        DataOf.reset();
        Rows.reset();
        Db.Close();
    }
    // The crawl has ended and its tables are written: nothing is left to
    // replay, and the answers' statements go (the file has none).
    void Ended() {
        State = TCrawlSchema::Finished;
        Finished = true;
        Pending.clear();
        ReplayEnd = 0;
        TakenCount = 0;
        Taken.clear();
        Unprepare();
    }
    // An ended crawl's file made at part (TCrawlSchema::WriteFinished) and
    // synced: SQLite does not sync a file without a journal.
    bool WriteFinished(const std::string& part, const TRecordStore& store,
                       const std::vector<std::string>& queue, const TCrawlSchema::TPairs& meta) {
        TCrawlDb copy;
        if (!copy.Open(part) || !TCrawlSchema::WriteFinished(copy, Path, store, queue, meta))
            return false;
        copy.Close();
        return Sync(part) == 0;
    }
    // The file at path on the disk: 0, else errno.
    static int Sync(const std::string& path) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        const int error = fd < 0 || ::fsync(fd) != 0 ? errno : 0;
        if (fd >= 0)
            ::close(fd);
        return error;
    }
    // A copy of the file as of the last commit at part, without the room
    // of rows deleted, in the rollback journal's mode (one file) and synced
    // (SQLite does not sync what VACUUM INTO writes). Empty, else why not.
    std::string CopyInto(const std::string& part) {
        QSqlQuery copy = Db.Query();
        bool ok = Db.Prepare(copy, "VACUUM INTO ?");
        copy.bindValue(0, QString::fromStdString(part));
        ok = ok && Db.Run(copy);
        copy.finish();
        std::string error = Db.TakeError();
        if (ok) {
            TCrawlDb copied;
            if (!copied.Open(part) || !copied.Exec("PRAGMA journal_mode = DELETE"))
                error = copied.Error();
        }
        if (const int failed = error.empty() ? Sync(part) : 0; failed != 0)
            error = std::strerror(failed);
        return error;
    }

    // Opens path; once it is known for a crawl file, Prepare.
    bool Connect() {
        Rows.emplace(Db);
        return Db.Open(Path);
    }
    // A commit waits for the log to be written, not synced: a crash of the
    // machine may lose the last commits, never the file. The log, grown big
    // by the tables of a halt, goes back to 64 MiB once copied into the file.
    bool Prepare() {
        if (!Db.Exec("PRAGMA synchronous = NORMAL") ||
            !Db.Exec("PRAGMA journal_size_limit = 67108864"))
            return false;
        if (sqlite3* handle = Db.Handle())
            sqlite3_wal_hook(handle, &TState::Logged, this);
        return true;
    }
    // After each commit in WAL mode: the log copied into the file by the
    // copier, else here once it reaches 32 MiB, as SQLite would.
    static int Logged(void* state, sqlite3* db, const char*, int pages) {
        auto& s = *static_cast<TState*>(state);
        if (s.Copier)
            s.Copier->Logged(db, pages);
        else if (pages >= 2 * TLogCopier::Start)
            sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        return SQLITE_OK;
    }
    // Starts a write: in WAL mode (a commit is an append to the log, synced
    // at checkpoints), the file brought up to this version.
    bool Begin() {
        if (!Wal) {
            QSqlQuery mode = Db.Query();
            // Where WAL cannot be (no shared memory), the rollback journal stays.
            Wal = mode.exec(QStringLiteral("PRAGMA journal_mode = WAL")) && mode.next() &&
                  mode.value(0).toString() == QLatin1String("wal");
        }
        return Db.ExecKept("BEGIN") &&
               (Version >= TCrawlFile::Version || TCrawlSchema::Upgrade(Db, Version)) &&
               (!ClearRows || (TCrawlSchema::ClearRows(Db) &&
                               (!ReferrersIndexed || TCrawlSchema::IndexReferrers(Db))));
    }
    // The referrers are read back: by address, which a scan of them all
    // would make slow (where-used on a million pages), and in the order of
    // the addresses, which the index gives without a sort. Made once, from
    // a sort: kept up to date from the start it would cost a fifth of each
    // commit. Should it fail (a file that may only be read), the reads
    // scan.
    void IndexReferrers() {
        if (ReferrersIndexed)
            return;
        ReferrersIndexed = TCrawlSchema::IndexReferrers(Db);
        Db.TakeError();
    }
    // Ends a write begun: kept when ok, else rolled back. Empty, else why not.
    std::string End(bool ok) {
        if (ok && Db.ExecKept("COMMIT")) {
            Version = TCrawlFile::Version;
            ClearRows = false;
            return {};
        }
        Db.Rollback();
        return Path + ": cannot be written: " + Db.TakeError();
    }
};

TCrawlRecorder::TCrawlRecorder() : FState(std::make_unique<TState>()) {}

TCrawlRecorder::~TCrawlRecorder() {
    // An ended crawl's file made beside it still takes its place.
    try {
        if (!FState->Compacted.empty())
            OneFile();
    } catch (...) {
        // Left as committed: the copy goes with the state.
    }
}

std::unique_ptr<TCrawlRecorder> TCrawlRecorder::Create(const std::string& path,
                                                       const TCrawlOptions& options,
                                                       const TReport& about, std::string& error) {
    // Made whole under a temporary name, so that a crash meanwhile leaves no
    // file at path that is not a crawl file.
    error = TCrawlSchema::WriteBeside(path, [&](const std::string& part) {
        TCrawlDb db;
        const TRecordStore none;
        if (!db.Open(part) ||
            !TCrawlSchema::Write(db, none, options, about, TCrawlSchema::Running, {}))
            return db.Error();
        return std::string();
    });
    if (!error.empty())
        return nullptr;
    std::unique_ptr<TCrawlRecorder> recorder(new TCrawlRecorder());
    TState& s = *recorder->FState;
    s.Path = path;
    s.State = TCrawlSchema::Running;
    if (!s.Connect() || !s.Prepare()) {
        error = path + ": cannot be opened: " + s.Db.Error();
        return nullptr;
    }
    return recorder;
}

std::unique_ptr<TCrawlRecorder> TCrawlRecorder::Open(const std::string& path,
                                                     TCrawlOptions& options, TReport& about,
                                                     std::string& error) {
    error = TCrawlFile::Probe(path);
    if (!error.empty())
        return nullptr;
    std::unique_ptr<TCrawlRecorder> recorder(new TCrawlRecorder());
    TState& s = *recorder->FState;
    s.Path = path;
    if (!s.Connect()) {
        error = path + ": cannot be opened: " + s.Db.Error();
        return nullptr;
    }
    TCrawlSchema::TMeta meta;
    error = TCrawlSchema::Check(s.Db, path, options, about, meta);
    if (!error.empty())
        return nullptr;
    if (!s.Prepare()) {
        error = path + ": cannot be opened: " + s.Db.Error();
        return nullptr;
    }
    // A file of version 1 was written whole, when its crawl ended.
    s.Version = meta.Version;
    s.ClearRows = true;
    s.State = meta.Values["state"];
    s.Finished = s.Version < 2 || s.State == TCrawlSchema::Finished;
    s.PagesCommitted = std::strtoull(meta.Values["pages"].c_str(), nullptr, 10);
    if (s.Version >= 2) {
        QSqlQuery last = s.Db.Query();
        if (!last.exec(QStringLiteral("SELECT MAX(seq) FROM answers")) || !last.next()) {
            error = path + ": cannot be read: " + s.Db.Error();
            return nullptr;
        }
        // Numbered from 1 without a gap, as SQLite numbers them: a number
        // past what any disk holds is a damaged file, not a bitmap to make.
        s.ReplayEnd = std::max<qint64>(last.value(0).toLongLong(), 0);
        if (s.ReplayEnd > MaxAnswers) {
            error = path + ": damaged (answer number " + std::to_string(s.ReplayEnd) + ")";
            return nullptr;
        }
        s.Taken.assign(std::size_t(s.ReplayEnd) + 1, false);
    }
    return recorder;
}

bool TCrawlRecorder::Finished() const noexcept {
    return FState->Finished;
}

const std::string& TCrawlRecorder::Path() const noexcept {
    return FState->Path;
}

std::optional<TAnswer> TCrawlRecorder::Replay(const std::string& key) {
    TState& s = *FState;
    if (s.TakenCount >= s.ReplayEnd)
        return std::nullopt;
    if (!s.Indexed) {
        // Made once, from a sort, for the reading back: a crawl writing its
        // answers never looks them up. Should it fail (a file that may only
        // be read), each lookup reads the answers through.
        s.Indexed = true;
        s.Db.Exec("CREATE INDEX IF NOT EXISTS answers_key ON answers (key, seq)");
        s.Db.TakeError();
    }
    QSqlQuery* seqs =
        s.Prepared(s.SeqsOf, "SELECT seq FROM answers WHERE key = ? AND seq <= ? ORDER BY seq");
    QSqlQuery* data = s.Prepared(s.DataOf, "SELECT data FROM answers WHERE seq = ?");
    if (seqs == nullptr || data == nullptr)
        return std::nullopt;
    seqs->bindValue(0, TCrawlDb::TextValue(key));
    seqs->bindValue(1, s.ReplayEnd);
    qint64 next = 0;
    if (seqs->exec())
        while (next == 0 && seqs->next())
            if (const qint64 seq = seqs->value(0).toLongLong();
                seq > 0 && seq <= s.ReplayEnd && !s.Taken[std::size_t(seq)])
                next = seq;
    seqs->finish();
    if (next == 0)
        return std::nullopt;
    s.Taken[std::size_t(next)] = true;
    ++s.TakenCount;
    std::optional<TAnswer> answer;
    data->bindValue(0, next);
    if (data->exec() && data->next())
        answer = TAnswerCodec::Decode(data->value(0).toByteArray());
    data->finish();
    return answer;
}

void TCrawlRecorder::Record(const std::string& key, const TAnswer& answer) {
    FState->Pending.push_back({key, answer.Status, answer.Reason, FState->Codec.Encode(answer)});
}

TCrawlRowWriter::TRows TCrawlRecorder::TakeRows(const TRecordStore& store, std::size_t merged) {
    return TCrawlRowWriter::Take(store, merged, FState->Mark);
}

std::string TCrawlRecorder::Commit(const TCrawlProgress& progress, const TRecordStore& records) {
    return Commit(progress, TakeRows(records, records.MergesEnded()));
}

std::string TCrawlRecorder::Commit(const TCrawlProgress& progress, TCrawlRowWriter::TRows rows) {
    TState& s = *FState;
    if (!rows.Empty())
        s.PendingRows.push_back(std::move(rows));
    bool ok = s.Begin();
    for (std::size_t i = 0; ok && i < s.Pending.size(); ++i) {
        const TState::TPending& p = s.Pending[i];
        ok = s.Rows->WriteAnswer(p.Key, p.Status, p.Reason,
                                 std::string_view(p.Data.constData(), std::size_t(p.Data.size())));
    }
    // The rows of the pages whose merge ended since.
    ok = ok && s.WriteRows();
    // The counters: their rows are there since the file was made (or
    // brought up to this version).
    TCrawlSchema::TPairs counters = TCrawlSchema::CounterMeta(progress);
    TCrawlSchema::TPairs changed;
    for (std::size_t i = 0; i < counters.size(); ++i)
        if (i >= s.Counters.size() || s.Counters[i] != counters[i])
            changed.push_back(counters[i]);
    ok = ok && s.Rows->WriteCounters(changed);
    const bool newState = s.State != TCrawlSchema::Running;
    ok = ok && (!newState || TCrawlSchema::WriteMeta(s.Db, {{"state", TCrawlSchema::Running}}));
    if (std::string error = s.End(ok); !error.empty())
        return error; // the answers and rows stay pending, for the next commit
    if (!s.Copier && s.Wal)
        s.Copier = std::make_unique<TLogCopier>(s.Path);
    s.State = TCrawlSchema::Running;
    s.Pending.clear();
    s.RowsKept();
    s.Counters = std::move(counters);
    s.PagesCommitted = progress.Pages;
    s.Finished = false;
    return {};
}

std::size_t TCrawlRecorder::PagesCommitted() const {
    return FState->PagesCommitted;
}

std::size_t TCrawlRecorder::ReplayLeft() const noexcept {
    return std::size_t(FState->ReplayEnd - FState->TakenCount);
}

std::size_t TCrawlRecorder::MergedKept() const {
    return FState->MergedKept;
}

bool TCrawlRecorder::ReadLinks(std::size_t from, std::size_t to, const TLinkVisit& visit) const {
    return FState->Rows->ReadLinks(from, to, visit);
}

bool TCrawlRecorder::ReadPages(std::size_t from, std::size_t to, const TPageVisit& visit) const {
    return FState->Rows->ReadPages(from, to, visit);
}

bool TCrawlRecorder::ReadReferences(std::int32_t address, std::size_t to,
                                    const TReferenceVisit& visit) const {
    FState->IndexReferrers();
    return FState->Rows->ReadReferences(address, to, visit);
}

void TCrawlRecorder::IndexReferrers() {
    FState->IndexReferrers();
}

std::string TCrawlRecorder::WriteTables(const TRecordStore& store,
                                        const std::vector<std::string>& queue, const TReport& about,
                                        bool finished, bool oneFile) {
    TState& s = *FState;
    s.Copier.reset(); // the small copy's rename wants the file alone
    // A merge cut short by the halt is written as far as it went, as the
    // report lists it.
    if (TCrawlRowWriter::TRows rows = TakeRows(store, store.Merged().size()); !rows.Empty())
        s.PendingRows.push_back(std::move(rows));
    TCrawlSchema::TPairs meta = TCrawlSchema::AboutMeta(about);
    meta.emplace_back("state", finished ? TCrawlSchema::Finished : TCrawlSchema::Stopped);
    if (finished) {
        // An ended crawl's file is made anew beside it, small and one file
        // (the rollback journal, as TCrawlFile writes): its rows as
        // committed, its tables, no answers. It takes the file's place once
        // no other connection is left on it (OneFile); till then the file
        // holds every page committed, to go on with should this be cut
        // short. Without room for it, the tables go into the file itself.
        if (std::string error = s.End(s.Begin() && s.WriteRows()); !error.empty())
            return error;
        s.RowsKept();
        const std::string part = TCrawlSchema::PartOf(s.Path);
        TCrawlSchema::Remove(part);
        if (s.WriteFinished(part, store, queue, meta)) {
            s.Compacted = part;
            s.Ended();
            return oneFile ? OneFile() : std::string();
        }
        TCrawlSchema::Remove(part);
    }
    bool ok = s.Begin() && s.WriteRows() && TCrawlSchema::WriteReportTables(s.Db, store) &&
              TCrawlSchema::WriteQueue(s.Db, queue) && TCrawlSchema::WriteMeta(s.Db, meta);
    // An ended crawl is all in its tables: its answers go, its rows are
    // indexed.
    ok = ok && (!finished || (s.Db.Exec("DELETE FROM answers") && TCrawlSchema::IndexRows(s.Db)));
    if (std::string error = s.End(ok); !error.empty())
        return error;
    s.RowsKept();
    s.State = TCrawlSchema::Stopped;
    s.Finished = false;
    if (finished)
        s.Ended();
    return {};
}

std::string TCrawlRecorder::OneFile() {
    TState& s = *FState;
    if (!s.Finished)
        return {};
    std::string error;
    if (!s.Compacted.empty()) {
        // Once the last connection on the file has gone, SQLite has copied
        // the log into it and removed it: the copy takes its place. A log
        // left means a connection elsewhere: the copy's tables go into the
        // file itself instead.
        const std::string part = std::exchange(s.Compacted, {});
        s.Disconnect();
        std::error_code ec;
        const bool alone = !std::filesystem::exists(s.Path + "-wal", ec);
        if (alone && TCrawlSchema::Replace(part, s.Path).empty()) {
            s.Wal = false;
        } else {
            if (!s.Connect() || !TCrawlSchema::TakeFinished(s.Db, part)) {
                error = s.Path + ": cannot be written: " + s.Db.TakeError();
                s.State = TCrawlSchema::Running; // as the file still says
                s.Finished = false;
            }
            s.Disconnect(); // without what was attached
            TCrawlSchema::Remove(part);
        }
        if (s.Connect())
            s.Prepare();
        s.Db.TakeError(); // said by the next use
    }
    if (s.Wal) {
        QSqlQuery mode = s.Db.Query();
        if (mode.exec(QStringLiteral("PRAGMA journal_mode = DELETE")) && mode.next() &&
            mode.value(0).toString() == QLatin1String("delete"))
            s.Wal = false;
        s.Db.TakeError();
    }
    return error;
}

std::string TCrawlRecorder::CopyTo(const std::string& path) const {
    TState& s = *FState;
    std::error_code ec;
    if (std::filesystem::equivalent(path, s.Path, ec))
        return {};
    // As of the last commit: the answers recorded since wait in memory.
    return TCrawlSchema::WriteBeside(path,
                                     [&s](const std::string& part) { return s.CopyInto(part); });
}
