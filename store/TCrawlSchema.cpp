#include "TCrawlSchema.h"

#include "TCrawlDb.h"
#include "TCrawlFile.h"
#include "TCrawlRowWriter.h"

#include "crawl/TCrawlJournal.h"
#include "crawl/TCrawlOptions.h"
#include "crawl/TRecordStore.h"
#include "report/TReport.h"
#include "report/TReportReader.h"
#include "report/TReportTables.h"

#include <QSqlError>
#include <QSqlRecord>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// A report field's name as a column: "URI" -> "uri", "Old status" -> "old_status".
std::string ColumnName(const char* field) {
    std::string name;
    for (const char* c = field; *c != '\0'; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c))
                    ? static_cast<char>(std::tolower(static_cast<unsigned char>(*c)))
                    : '_';
    return name;
}

// The options TReport names that are not the crawl's own: the pause between
// pages, in seconds, and the folder a --site crawl served.
const char* const AboutOptions[] = {"delay", "site"};

std::string AboutOption(const TReport& about, const std::string& name) {
    for (const auto& [n, value] : about.Options)
        if (n == name)
            return value;
    return {};
}

// The crawl's options by name, as the file keeps them.
TCrawlSchema::TPairs OptionValues(const TCrawlOptions& o, const TReport& about) {
    std::string waits;
    for (const std::chrono::milliseconds wait : o.RetryWaits)
        waits += (waits.empty() ? "" : ",") + std::to_string(wait.count());
    const auto onOff = [](bool on) { return std::string(on ? "on" : "off"); };
    TCrawlSchema::TPairs values{{"connections", std::to_string(o.Connections)},
                                {"per-host", std::to_string(o.PerHost)},
                                {"host-gap-ms", std::to_string(o.HostGapMs)},
                                {"retries", std::to_string(o.Retries)},
                                {"retry-waits-ms", waits},
                                {"max-wait", std::to_string(o.MaxWaitSeconds)},
                                {"external", onOff(o.External)},
                                {"robots", onOff(o.Robots)},
                                {"confirm", onOff(o.Confirm)},
                                {"user-agent", o.UserAgent},
                                {"max-depth", std::to_string(o.MaxDepth)},
                                {"max-pages", std::to_string(o.MaxPages)},
                                {"include", o.Include},
                                {"exclude", o.Exclude}};
    for (const char* name : AboutOptions)
        values.emplace_back(name, AboutOption(about, name));
    return values;
}

bool ToInt(const std::string& text, int& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

// Sets the option name from its text; false when the text is not one.
bool SetOption(TCrawlOptions& o, TReport& about, const std::string& name,
               const std::string& value) {
    const std::map<std::string, int*> numbers{
        {"connections", &o.Connections}, {"per-host", &o.PerHost},
        {"host-gap-ms", &o.HostGapMs},   {"retries", &o.Retries},
        {"max-wait", &o.MaxWaitSeconds}, {"max-depth", &o.MaxDepth},
        {"max-pages", &o.MaxPages}};
    const std::map<std::string, bool*> switches{
        {"external", &o.External}, {"robots", &o.Robots}, {"confirm", &o.Confirm}};
    const std::map<std::string, std::string*> texts{
        {"user-agent", &o.UserAgent}, {"include", &o.Include}, {"exclude", &o.Exclude}};
    if (const auto n = numbers.find(name); n != numbers.end())
        return ToInt(value, *n->second);
    if (const auto s = switches.find(name); s != switches.end()) {
        *s->second = value == "on";
        return value == "on" || value == "off";
    }
    if (const auto t = texts.find(name); t != texts.end()) {
        *t->second = value;
        return true;
    }
    if (name == "delay" || name == "site") {
        int seconds = 0;
        if (name == "delay" && !value.empty() && !ToInt(value, seconds))
            return false;
        if (!value.empty())
            about.Options.emplace_back(name, value);
        return true;
    }
    if (name == "retry-waits-ms") {
        o.RetryWaits.clear();
        for (std::size_t at = 0; at < value.size();) {
            const std::size_t comma = std::min(value.find(',', at), value.size());
            int ms = 0;
            if (!ToInt(value.substr(at, comma - at), ms))
                return false;
            o.RetryWaits.emplace_back(ms);
            at = comma + 1;
        }
        return true;
    }
    return true; // an option of a later version of this schema: ignored
}

bool CreatePairs(TCrawlDb& db, const std::string& table, const TCrawlSchema::TPairs& pairs) {
    if (!db.Exec("CREATE TABLE " + table + " (name TEXT PRIMARY KEY, value TEXT NOT NULL)"))
        return false;
    QSqlQuery insert = db.Query();
    if (!db.Prepare(insert, "INSERT OR REPLACE INTO " + table + " (name, value) VALUES (?, ?)"))
        return false;
    for (const auto& [name, value] : pairs) {
        insert.bindValue(0, QString::fromStdString(name));
        insert.bindValue(1, TCrawlDb::TextValue(value));
        if (!db.Run(insert))
            return false;
    }
    return true;
}

// A report table as a table of the file: a column a field, integers where the
// field is numeric, the rows in the report's order (their rowid).
bool WriteTable(TCrawlDb& db, const TReportTable& table) {
    std::string columns, marks;
    for (const TReportField& field : table.Fields) {
        columns += (columns.empty() ? "" : ", ") + ColumnName(field.Name) +
                   (field.Numeric ? " INTEGER NOT NULL" : " TEXT NOT NULL");
        marks += marks.empty() ? "?" : ", ?";
    }
    const std::string name = table.Name;
    if (!db.Exec("DROP TABLE IF EXISTS " + name) ||
        !db.Exec("CREATE TABLE " + name + " (" + columns + ")"))
        return false;
    return TCrawlRowWriter(db).WriteTable(table, "INSERT INTO " + name + " VALUES (" + marks + ")");
}

// The indexes the usual queries need: an address's records. Made after the
// rows, which is quicker than keeping them up to date.
const char* const Indexes[] = {
    "CREATE INDEX pages_uri ON pages (uri)",
    "CREATE INDEX objects_uri ON objects (uri)",
    "CREATE INDEX external_uri ON external (uri)",
};

// The link rows and referrers, written a page at a time (TCrawlRowWriter),
// by the numbers of their addresses and pages; the views links and
// referrers give them as the report's tables, in its order. verdicts holds
// what links and referrers say of each address, written when the crawl
// halts or ends; elsewhere_*, when not null, is what a link to another site
// says of an address also asked for as a page or an object.
const char* const RowTables[] = {
    "CREATE TABLE IF NOT EXISTS addresses (id INTEGER PRIMARY KEY, uri TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS merged (id INTEGER PRIMARY KEY, uri TEXT NOT NULL)",
    ("CREATE TABLE IF NOT EXISTS link_rows (page INTEGER NOT NULL, kind INTEGER NOT NULL, "
     "address INTEGER NOT NULL, count INTEGER NOT NULL, scope INTEGER NOT NULL)"),
    ("CREATE TABLE IF NOT EXISTS ref_rows (address INTEGER NOT NULL, page INTEGER NOT NULL, "
     "line INTEGER NOT NULL)"),
    ("CREATE TABLE IF NOT EXISTS verdicts (address INTEGER PRIMARY KEY, verdict TEXT NOT NULL, "
     "reason TEXT NOT NULL, elsewhere_verdict TEXT, elsewhere_reason TEXT)"),
    ("CREATE VIEW IF NOT EXISTS links AS SELECT m.uri AS page, "
     "CASE l.kind WHEN 0 THEN 'anchor' ELSE 'object' END AS kind, a.uri AS uri, "
     "l.count AS count, "
     "CASE WHEN l.kind <> 0 THEN '' WHEN l.scope THEN 'internal' ELSE 'external' END AS scope, "
     "COALESCE(CASE WHEN l.kind = 0 AND NOT l.scope THEN v.elsewhere_verdict END, v.verdict, '') "
     "AS verdict, "
     "COALESCE(CASE WHEN l.kind = 0 AND NOT l.scope THEN v.elsewhere_reason END, v.reason, '') "
     "AS reason "
     "FROM link_rows l JOIN merged m ON m.id = l.page JOIN addresses a ON a.id = l.address "
     "LEFT JOIN verdicts v ON v.address = l.address ORDER BY l.rowid"),
    ("CREATE VIEW IF NOT EXISTS referrers AS SELECT a.uri AS uri, m.uri AS page, r.line AS line, "
     "COALESCE(v.verdict, '') AS verdict, COALESCE(v.reason, '') AS reason "
     "FROM ref_rows r JOIN addresses a ON a.id = r.address JOIN merged m ON m.id = r.page "
     "LEFT JOIN verdicts v ON v.address = r.address ORDER BY r.address, r.rowid"),
};
const std::pair<const char*, std::vector<std::string>> RowColumns[] = {
    {"addresses", {"id", "uri"}},
    {"merged", {"id", "uri"}},
    {"link_rows", {"page", "kind", "address", "count", "scope"}},
    {"ref_rows", {"address", "page", "line"}},
    {"verdicts", {"address", "verdict", "reason", "elsewhere_verdict", "elsewhere_reason"}},
};
// The views of the report's tables.
bool IsView(std::string_view table) {
    return table == "links" || table == "referrers";
}

// The indexes of the rows, made once the crawl has ended: kept up to date
// a row at a time they would cost more than the rows. An address's
// referrers, with their pages and lines, so that reading them all by
// address never looks a row up in the table; and a page's links. The links
// to an address are its referrers, so link_rows (address) and ref_rows
// (page) would only double them, at half the cost of writing the rows
// again. The referrers' is the first, made earlier when the crawl reads
// them back by address (IndexReferrers); files of earlier versions had it
// by address alone (FormerIndexes).
const char* const RowIndexes[][2] = {
    {"ref_rows_uses", "ref_rows (address, page, line)"},
    {"addresses_uri", "addresses (uri)"},
    {"merged_uri", "merged (uri)"},
    {"link_rows_page", "link_rows (page)"},
};

const char* const FormerIndexes[] = {"ref_rows_address"};

bool CreateIndex(TCrawlDb& db, const char* const (&index)[2]) {
    return db.Exec(std::string("CREATE INDEX IF NOT EXISTS ") + index[0] + " ON " + index[1]);
}

bool DropIndex(TCrawlDb& db, const char* name) {
    return db.Exec(std::string("DROP INDEX IF EXISTS ") + name);
}

bool DropFormerIndexes(TCrawlDb& db) {
    return std::all_of(std::begin(FormerIndexes), std::end(FormerIndexes),
                       [&db](const char* name) { return DropIndex(db, name); });
}

// The journal of answers (TCrawlRecorder) and the queue. The answers are
// looked up by key only when a crawl is read back: their index is made then
// (TCrawlRecorder::Replay), not kept up to date as they are written.
const char* const JournalTables[] = {
    ("CREATE TABLE IF NOT EXISTS answers (seq INTEGER PRIMARY KEY, key TEXT NOT NULL, "
     "status INTEGER NOT NULL, reason TEXT NOT NULL, data BLOB NOT NULL)"),
    "CREATE TABLE IF NOT EXISTS queue (address TEXT NOT NULL)",
};
const std::pair<const char*, std::vector<std::string>> JournalColumns[] = {
    {"answers", {"seq", "key", "status", "reason", "data"}},
    {"queue", {"address"}},
};

std::string Now() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32] = "";
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// What a failed read of a file says: a damaged file says so; a table or a
// column missing makes it no crawl file.
std::string ReadError(const std::string& path, const QSqlQuery& query, const std::string& what) {
    const QSqlError error = query.lastError();
    const int code = error.nativeErrorCode().toInt() & 0xff; // SQLite's primary code
    if (code == 11 || code == 26)                            // SQLITE_CORRUPT, SQLITE_NOTADB
        return path + ": damaged (" + error.databaseText().toStdString() + ")";
    return path + ": " + TCrawlSchema::NotACrawlFile + what;
}

// Reads the name/value table into visit; empty, else what is wrong.
template <class Visit>
std::string ReadPairs(TCrawlDb& db, const std::string& path, const char* table, Visit visit) {
    QSqlQuery query = db.Query();
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT name, value FROM %1").arg(QLatin1String(table))))
        return ReadError(path, query, std::string(" (no table ") + table + ")");
    while (query.next())
        visit(query.value(0).toString().toStdString(), TCrawlDb::FromValue(query.value(1)));
    if (query.lastError().isValid())
        return ReadError(path, query, "");
    return {};
}

// Selects table's rows in order and checks its columns; empty, else what is wrong.
// A view gives its rows in order by itself.
std::string SelectTable(QSqlQuery& query, const std::string& path, const std::string& table,
                        const std::vector<std::string>& columns, const char* limit, bool view) {
    if (!query.exec(QString::fromStdString("SELECT * FROM " + table +
                                           (view ? "" : " ORDER BY rowid") + limit)))
        return ReadError(path, query, " (no table " + table + ")");
    const QSqlRecord record = query.record();
    bool same = record.count() == int(columns.size());
    for (int i = 0; same && i < record.count(); ++i)
        same = record.fieldName(i).toStdString() == columns[std::size_t(i)];
    if (!same)
        return path + ": " + TCrawlSchema::NotACrawlFile + " (the table " + table +
               " has other columns)";
    return {};
}

std::vector<std::string> ColumnsOf(const TReportTable& table) {
    std::vector<std::string> columns;
    for (const TReportField& field : table.Fields)
        columns.push_back(ColumnName(field.Name));
    return columns;
}

// The tables of the file that the store is read back from, by name.
TReportReader::TTable* TableOf(TReportReader::TTables& tables, std::string_view name) {
    if (name == "pages")
        return &tables.Pages;
    if (name == "objects")
        return &tables.Objects;
    if (name == "external")
        return &tables.External;
    if (name == "links")
        return &tables.Links;
    if (name == "referrers")
        return &tables.Referrers;
    if (name == "redirects")
        return &tables.Redirects;
    return nullptr;
}

// Every row of store, a thousand pages at a time, so that a store of a
// million pages is not copied whole.
bool WriteRows(TCrawlDb& db, const TRecordStore& store) {
    TCrawlRowWriter writer(db);
    TCrawlRowWriter::TMark mark;
    for (std::size_t merged = 0;;) {
        merged = std::min(merged + 1000, store.Merged().size());
        if (!writer.Write(TCrawlRowWriter::Take(store, merged, mark)))
            return false;
        if (merged == store.Merged().size())
            return true;
    }
}

// Attaches the database at path to db's connection as name.
bool Attach(TCrawlDb& db, const std::string& path, const char* name) {
    QSqlQuery attach = db.Query();
    if (!db.Prepare(attach, std::string("ATTACH ? AS ") + name))
        return false;
    attach.bindValue(0, QString::fromStdString(path));
    return db.Run(attach);
}

} // namespace

std::string TCrawlSchema::CheckReplaceable(const std::string& path) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(path, ec)))
        return {};
    if (!fs::is_regular_file(path, ec)) // a folder, a device, a link to nothing
        return path + ": not a Marrowby crawl file, left as it is";
    std::ifstream in(path, std::ios::binary);
    char header[72] = {};
    in.read(header, sizeof header);
    if (in.gcount() == 0 && fs::file_size(path, ec) == 0)
        return {};
    const auto byte = [&](int at) { return std::uint32_t(static_cast<unsigned char>(header[at])); };
    const std::uint32_t id = byte(68) << 24 | byte(69) << 16 | byte(70) << 8 | byte(71);
    if (in.gcount() < std::streamsize(sizeof header) ||
        std::string_view(header, 16) != std::string_view("SQLite format 3\0", 16) ||
        id != std::uint32_t(TCrawlFile::ApplicationId))
        return path + ": not a Marrowby crawl file, left as it is";
    return {};
}

std::string TCrawlSchema::Replace(const std::string& from, const std::string& path) {
    std::error_code ec;
    for (const char* journal : {"-wal", "-shm", "-journal"})
        fs::remove(path + journal, ec);
    const fs::path target(path);
    fs::rename(from, target, ec);
    if (ec)
        return ec.message();
    // The rename itself lasts once the folder is on the disk.
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    if (const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY); fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    return {};
}

std::string
TCrawlSchema::WriteBeside(const std::string& path,
                          const std::function<std::string(const std::string& part)>& write) {
    if (std::string error = CheckReplaceable(path); !error.empty())
        return error;
    const std::string part = PartOf(path);
    Remove(part);
    std::string error = write(part);
    if (error.empty())
        error = Replace(part, path);
    if (error.empty())
        return {};
    Remove(part);
    return path + ": cannot be written: " + error;
}

std::string TCrawlSchema::PartOf(const std::string& path) {
    return path + ".part-" + std::to_string(getpid());
}

void TCrawlSchema::Remove(const std::string& path) {
    std::error_code ec;
    for (const char* journal : {"-wal", "-shm", "-journal"})
        fs::remove(path + journal, ec);
    fs::remove(path, ec);
}

bool TCrawlSchema::Write(TCrawlDb& db, const TRecordStore& store, const TCrawlOptions& options,
                         const TReport& about, const char* state, const TCrawlProgress& counters) {
    TPairs meta{{"schema", std::to_string(TCrawlFile::Version)},
                {"program", "marrowby " MARROWBY_VERSION},
                {"state", state}};
    for (TPairs more : {AboutMeta(about), CounterMeta(counters)})
        meta.insert(meta.end(), more.begin(), more.end());
    bool ok = db.Exec("PRAGMA application_id = " + std::to_string(TCrawlFile::ApplicationId)) &&
              db.Exec("PRAGMA user_version = " + std::to_string(TCrawlFile::Version)) &&
              db.Exec("BEGIN") && CreatePairs(db, "meta", meta) &&
              CreatePairs(db, "options", OptionValues(options, about)) && CreateRowTables(db) &&
              WriteRows(db, store) && WriteReportTables(db, store);
    for (const char* sql : JournalTables)
        ok = ok && db.Exec(sql);
    if (std::string_view(state) == Finished)
        ok = ok && IndexRows(db);
    return ok && db.Exec("COMMIT");
}

bool TCrawlSchema::WriteReportTables(TCrawlDb& db, const TRecordStore& store) {
    for (const TReportTable& table : TReportTables::Of(store))
        if (!IsView(table.Name) && !WriteTable(db, table))
            return false;
    for (const char* index : Indexes)
        if (!db.Exec(index))
            return false;
    return TCrawlRowWriter(db).WriteVerdicts(store);
}

bool TCrawlSchema::CreateRowTables(TCrawlDb& db) {
    for (const char* sql : RowTables)
        if (!db.Exec(sql))
            return false;
    return true;
}

bool TCrawlSchema::ClearRows(TCrawlDb& db) {
    for (const auto& index : RowIndexes)
        if (!DropIndex(db, index[0]))
            return false;
    if (!DropFormerIndexes(db))
        return false;
    for (const auto& [table, columns] : RowColumns)
        if (!db.Exec(std::string("DELETE FROM ") + table))
            return false;
    return true;
}

bool TCrawlSchema::IndexRows(TCrawlDb& db) {
    for (const auto& index : RowIndexes)
        if (!CreateIndex(db, index))
            return false;
    return true;
}

bool TCrawlSchema::IndexReferrers(TCrawlDb& db) {
    return DropFormerIndexes(db) && CreateIndex(db, RowIndexes[0]);
}

bool TCrawlSchema::Upgrade(TCrawlDb& db, int version) {
    TPairs meta{{"schema", std::to_string(TCrawlFile::Version)}};
    if (version < 2) { // the journal and the queue, of a finished crawl
        for (const char* sql : JournalTables)
            if (!db.Exec(sql))
                return false;
        for (auto& pair : CounterMeta({}))
            meta.push_back(std::move(pair));
        meta.emplace_back("state", Finished);
    }
    // The tables links and referrers become views of the rows, which are
    // written again from the store.
    return db.Exec("DROP TABLE IF EXISTS links") && db.Exec("DROP TABLE IF EXISTS referrers") &&
           CreateRowTables(db) &&
           db.Exec("PRAGMA user_version = " + std::to_string(TCrawlFile::Version)) &&
           WriteMeta(db, meta);
}

bool TCrawlSchema::WriteMeta(TCrawlDb& db, const TPairs& values) {
    QSqlQuery insert = db.Query();
    if (!db.Prepare(insert, "INSERT OR REPLACE INTO meta (name, value) VALUES (?, ?)"))
        return false;
    for (const auto& [name, value] : values) {
        insert.bindValue(0, QString::fromStdString(name));
        insert.bindValue(1, TCrawlDb::TextValue(value));
        if (!db.Run(insert))
            return false;
    }
    return true;
}

bool TCrawlSchema::WriteQueue(TCrawlDb& db, const std::vector<std::string>& queue) {
    QSqlQuery insert = db.Query();
    if (!db.Exec("DELETE FROM queue") ||
        !db.Prepare(insert, "INSERT INTO queue (address) VALUES (?)"))
        return false;
    for (const std::string& address : queue) {
        insert.bindValue(0, TCrawlDb::TextValue(address));
        if (!db.Run(insert))
            return false;
    }
    return true;
}

bool TCrawlSchema::WriteFinished(TCrawlDb& db, const std::string& source, const TRecordStore& store,
                                 const std::vector<std::string>& queue, const TPairs& meta) {
    // The rows go across as SQLite's pages of records, the referrers with
    // their index (made at the source before the report read it), which is
    // quicker than a copy of the whole file made small afterwards.
    bool ok = db.Exec("PRAGMA main.journal_mode = OFF") &&
              db.Exec("PRAGMA main.synchronous = OFF") &&
              db.Exec("PRAGMA application_id = " + std::to_string(TCrawlFile::ApplicationId)) &&
              db.Exec("PRAGMA user_version = " + std::to_string(TCrawlFile::Version)) &&
              Attach(db, source, "source");
    if (!ok)
        return false;
    ok = db.Exec("BEGIN") && CreatePairs(db, "meta", {}) && CreatePairs(db, "options", {}) &&
         CreateRowTables(db) && IndexReferrers(db);
    for (const char* table : {"meta", "options", "addresses", "merged", "link_rows", "ref_rows"})
        ok = ok &&
             db.Exec(std::string("INSERT INTO main.") + table + " SELECT * FROM source." + table);
    // A failure leaves a file of no use: the caller removes it.
    ok = ok && db.Exec("COMMIT") && db.Exec("DETACH source") && db.Exec("BEGIN") &&
         WriteReportTables(db, store);
    for (const char* sql : JournalTables)
        ok = ok && db.Exec(sql);
    return ok && WriteQueue(db, queue) && WriteMeta(db, meta) && IndexRows(db) && db.Exec("COMMIT");
}

bool TCrawlSchema::TakeFinished(TCrawlDb& db, const std::string& from) {
    if (!Attach(db, from, "finished"))
        return false;
    bool ok = db.Exec("BEGIN");
    for (const char* table :
         {"meta", "queue", "verdicts", "pages", "objects", "external", "redirects"})
        ok = ok && db.Exec(std::string("DELETE FROM main.") + table) &&
             db.Exec(std::string("INSERT INTO main.") + table + " SELECT * FROM finished." + table);
    // An index named without its database is made in main's.
    ok = ok && db.Exec("DELETE FROM main.answers") && IndexRows(db) && db.Exec("COMMIT");
    if (!ok)
        db.Rollback(); // the connection is closed next (DETACH would fail as well)
    return ok && db.Exec("DETACH finished");
}

TCrawlSchema::TPairs TCrawlSchema::AboutMeta(const TReport& about) {
    return {{"start", about.Start},
            {"started", about.Started},
            {"finished", about.Finished},
            {"saved", Now()}};
}

TCrawlSchema::TPairs TCrawlSchema::CounterMeta(const TCrawlProgress& counters) {
    return {{"pages", std::to_string(counters.Pages)},
            {"queued", std::to_string(counters.Queued)},
            {"objects", std::to_string(counters.Objects)},
            {"external", std::to_string(counters.External)}};
}

std::string TCrawlSchema::Check(TCrawlDb& db, const std::string& path, TCrawlOptions& options,
                                TReport& about, TMeta& meta) {
    QSqlQuery query = db.Query();
    // A file that is not SQLite, or whose tables are damaged, fails its
    // first query.
    if (!query.exec(QStringLiteral("PRAGMA application_id")))
        return ReadError(path, query, "");
    if (!query.next() || query.value(0).toInt() != TCrawlFile::ApplicationId)
        return path + ": " + NotACrawlFile;
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
        return path + ": " + NotACrawlFile;
    meta.Version = query.value(0).toInt();
    query.finish();
    if (meta.Version > TCrawlFile::Version)
        return path + ": written by a newer version of Marrowby (crawl file version " +
               std::to_string(meta.Version) + ", this one reads up to " +
               std::to_string(TCrawlFile::Version) + ")";
    if (meta.Version < 1)
        return path + ": " + NotACrawlFile;
    std::string error = ReadPairs(db, path, "meta", [&](std::string name, std::string value) {
        meta.Values[std::move(name)] = std::move(value);
    });
    if (!error.empty())
        return error;
    if (!meta.Values.contains("schema"))
        return path + ": " + NotACrawlFile + " (no schema in meta)";
    about.Start = meta.Values["start"];
    about.Started = meta.Values["started"];
    about.Finished = meta.Values["finished"];
    std::string wrong;
    error = ReadPairs(db, path, "options", [&](const std::string& name, const std::string& value) {
        if (!SetOption(options, about, name, value) && wrong.empty())
            wrong =
                path + ": the option " + name + " has a value that is not one (\"" + value + "\")";
    });
    if (!error.empty())
        return error;
    if (!wrong.empty())
        return wrong;

    // The tables, checked against the report's own fields (the same columns
    // in the same order) and the journal's.
    const TRecordStore none;
    TReportReader::TTables kept;
    for (const TReportTable& table : TReportTables::Of(none))
        if (TableOf(kept, table.Name) != nullptr)
            if (error = SelectTable(query, path, table.Name, ColumnsOf(table), " LIMIT 0",
                                    meta.Version >= 3 && IsView(table.Name));
                !error.empty())
                return error;
    if (meta.Version >= 2)
        for (const auto& [table, columns] : JournalColumns)
            if (error = SelectTable(query, path, table, columns, " LIMIT 0", false); !error.empty())
                return error;
    if (meta.Version >= 3)
        for (const auto& [table, columns] : RowColumns)
            if (error = SelectTable(query, path, table, columns, " LIMIT 0", false); !error.empty())
                return error;
    return {};
}

std::string TCrawlSchema::ReadReportTables(TCrawlDb& db, const std::string& path, int version,
                                           TRecordStore& store) {
    const TRecordStore none;
    TReportReader::TTables tables;
    QSqlQuery query = db.Query();
    query.setForwardOnly(true); // rows read once: not cached in the query too
    for (const TReportTable& table : TReportTables::Of(none)) {
        TReportReader::TTable* into = TableOf(tables, table.Name);
        if (into == nullptr)
            continue;
        into->Name = path + ": table " + table.Name;
        const std::vector<std::string> columns = ColumnsOf(table);
        if (std::string error = SelectTable(query, path, table.Name, columns, "",
                                            version >= 3 && IsView(table.Name));
            !error.empty())
            return error;
        while (query.next()) {
            std::vector<std::string> row;
            row.reserve(columns.size());
            for (std::size_t i = 0; i < columns.size(); ++i)
                row.push_back(TCrawlDb::FromValue(query.value(int(i))));
            into->Rows.push_back(std::move(row));
        }
        if (query.lastError().isValid())
            return ReadError(path, query, "");
    }
    return TReportReader::Fill(tables, store);
}
