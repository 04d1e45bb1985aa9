#include "TCrawlFile.h"

#include "crawl/TCrawlOptions.h"
#include "crawl/TRecordStore.h"
#include "report/TReport.h"
#include "report/TReportReader.h"
#include "report/TReportTables.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringDecoder>
#include <QVariant>

#include <atomic>
#include <cctype>
#include <charconv>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <unistd.h>

namespace {

const char* const NotACrawlFile = "not a Marrowby crawl file";

// One connection of Qt SQL's SQLite driver, under a name of its own so that
// threads and nested uses never share one, and removed when done.
class TConnection {
public:
    TConnection() {
        static std::atomic<unsigned> count{0};
        FName = QStringLiteral("marrowby-crawl-file-%1").arg(count++);
        FDb = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), FName);
    }
    ~TConnection() {
        FDb.close();
        FDb = QSqlDatabase();
        QSqlDatabase::removeDatabase(FName);
    }
    QSqlDatabase& Db() { return FDb; }

private:
    QString FName;
    QSqlDatabase FDb;
};

// A report field's name as a column: "URI" -> "uri", "Old status" -> "old_status".
std::string ColumnName(const char* field) {
    std::string name;
    for (const char* c = field; *c != '\0'; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c))
                    ? static_cast<char>(std::tolower(static_cast<unsigned char>(*c)))
                    : '_';
    return name;
}

// Text as SQLite keeps it: as text when it is UTF-8, so that queries compare
// it as text; else its bytes as they are, as a blob.
QVariant TextValue(const std::string& text) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = decoder.decode(QByteArrayView(text.data(), qsizetype(text.size())));
    if (!decoder.hasError())
        return decoded;
    return QByteArray(text.data(), qsizetype(text.size()));
}

std::string FromValue(const QVariant& value) {
    if (value.typeId() == QMetaType::QByteArray)
        return value.toByteArray().toStdString();
    return value.toString().toStdString();
}

// The crawl's options by name, as the file keeps them.
std::vector<std::pair<std::string, std::string>> OptionValues(const TCrawlOptions& o) {
    std::string waits;
    for (const std::chrono::milliseconds wait : o.RetryWaits)
        waits += (waits.empty() ? "" : ",") + std::to_string(wait.count());
    const auto onOff = [](bool on) { return std::string(on ? "on" : "off"); };
    return {{"connections", std::to_string(o.Connections)},
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
}

bool ToInt(const std::string& text, int& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

// Sets the option name from its text; false when the text is not one.
bool SetOption(TCrawlOptions& o, const std::string& name, const std::string& value) {
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

// Runs the statements of the schema and the rows, stopping at the first error.
class TWriter {
public:
    explicit TWriter(QSqlDatabase& db) : FDb(db) {}

    bool Exec(const std::string& sql) {
        QSqlQuery query(FDb);
        if (!query.exec(QString::fromStdString(sql)))
            return Fail(query);
        return true;
    }
    QSqlQuery Query() { return QSqlQuery(FDb); }
    bool Prepare(QSqlQuery& query, const std::string& sql) {
        if (!query.prepare(QString::fromStdString(sql)))
            return Fail(query);
        return true;
    }
    bool Run(QSqlQuery& query) {
        if (!query.exec())
            return Fail(query);
        return true;
    }
    bool Fail(const QSqlQuery& query) {
        if (FError.empty())
            FError = query.lastError().text().toStdString();
        return false;
    }
    const std::string& Error() const { return FError; }

private:
    QSqlDatabase& FDb;
    std::string FError;
};

bool WritePairs(TWriter& w, const std::string& table,
                const std::vector<std::pair<std::string, std::string>>& pairs) {
    if (!w.Exec("CREATE TABLE " + table + " (name TEXT PRIMARY KEY, value TEXT NOT NULL)"))
        return false;
    QSqlQuery insert = w.Query();
    if (!w.Prepare(insert, "INSERT INTO " + table + " (name, value) VALUES (?, ?)"))
        return false;
    for (const auto& [name, value] : pairs) {
        insert.bindValue(0, QString::fromStdString(name));
        insert.bindValue(1, TextValue(value));
        if (!w.Run(insert))
            return false;
    }
    return true;
}

// A report table as a table of the file: a column a field, integers where the
// field is numeric, the rows in the report's order (their rowid).
bool WriteTable(TWriter& w, const TReportTable& table) {
    std::string columns, marks;
    for (const TReportField& field : table.Fields) {
        columns += (columns.empty() ? "" : ", ") + ColumnName(field.Name) +
                   (field.Numeric ? " INTEGER NOT NULL" : " TEXT NOT NULL");
        marks += marks.empty() ? "?" : ", ?";
    }
    const std::string name = table.Name;
    if (!w.Exec("CREATE TABLE " + name + " (" + columns + ")"))
        return false;
    QSqlQuery insert = w.Query();
    if (!w.Prepare(insert, "INSERT INTO " + name + " VALUES (" + marks + ")"))
        return false;
    bool ok = true;
    table.ForEachRow([&](const TReportTable::TCells& cells) {
        if (!ok)
            return;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            long long number = 0;
            const std::string& cell = cells[i];
            if (table.Fields[i].Numeric &&
                std::from_chars(cell.data(), cell.data() + cell.size(), number).ec == std::errc())
                insert.bindValue(int(i), number);
            else
                insert.bindValue(int(i), TextValue(cell));
        }
        ok = w.Run(insert);
    });
    return ok;
}

// The indexes the usual queries need: an address's referrers and links.
const char* const Indexes[] = {
    "CREATE INDEX pages_uri ON pages (uri)",
    "CREATE INDEX objects_uri ON objects (uri)",
    "CREATE INDEX external_uri ON external (uri)",
    "CREATE INDEX links_uri ON links (uri)",
    "CREATE INDEX links_page ON links (page)",
    "CREATE INDEX referrers_uri ON referrers (uri)",
    "CREATE INDEX referrers_page ON referrers (page)",
};

std::string WriteFile(QSqlDatabase& db, const TRecordStore& store, const TCrawlOptions& options,
                      const TReport& about) {
    TWriter w(db);
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char saved[32] = "";
    std::strftime(saved, sizeof saved, "%Y-%m-%dT%H:%M:%SZ", &utc);
    bool ok = w.Exec("PRAGMA application_id = " + std::to_string(TCrawlFile::ApplicationId)) &&
              w.Exec("PRAGMA user_version = " + std::to_string(TCrawlFile::Version)) &&
              w.Exec("BEGIN") &&
              WritePairs(w, "meta",
                         {{"schema", std::to_string(TCrawlFile::Version)},
                          {"program", "marrowby " MARROWBY_VERSION},
                          {"start", about.Start},
                          {"started", about.Started},
                          {"finished", about.Finished},
                          {"saved", saved}}) &&
              WritePairs(w, "options", OptionValues(options));
    for (const TReportTable& table : TReportTables::Of(store))
        ok = ok && WriteTable(w, table);
    for (const char* index : Indexes)
        ok = ok && w.Exec(index);
    ok = ok && w.Exec("COMMIT");
    return ok ? std::string() : w.Error();
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

// Reads the name/value table into visit; false on a query's error.
template <class Visit> bool ReadPairs(QSqlDatabase& db, const char* table, Visit visit) {
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT name, value FROM %1").arg(QLatin1String(table))))
        return false;
    while (query.next())
        visit(query.value(0).toString().toStdString(), FromValue(query.value(1)));
    return true;
}

std::string ReadFile(QSqlDatabase& db, const std::string& path, TRecordStore& store,
                     TCrawlOptions& options, TReport& about) {
    QSqlQuery query(db);
    // A file that is not SQLite fails its first query.
    if (!query.exec(QStringLiteral("PRAGMA application_id")) || !query.next() ||
        query.value(0).toInt() != TCrawlFile::ApplicationId)
        return path + ": " + NotACrawlFile;
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
        return path + ": " + NotACrawlFile;
    if (const int version = query.value(0).toInt(); version > TCrawlFile::Version)
        return path + ": written by a newer version of Marrowby (crawl file version " +
               std::to_string(version) + ", this one reads up to " +
               std::to_string(TCrawlFile::Version) + ")";
    std::map<std::string, std::string> meta;
    if (!ReadPairs(db, "meta",
                   [&](std::string name, std::string value) {
                       meta[std::move(name)] = std::move(value);
                   }) ||
        !meta.contains("schema"))
        return path + ": " + NotACrawlFile;
    about.Start = meta["start"];
    about.Started = meta["started"];
    about.Finished = meta["finished"];
    std::string error;
    if (!ReadPairs(db, "options", [&](const std::string& name, const std::string& value) {
            if (!SetOption(options, name, value) && error.empty())
                error = path + ": the option " + name + " has a value that is not one (\"" + value +
                        "\")";
        }))
        return path + ": " + NotACrawlFile + " (no options)";
    if (!error.empty())
        return error;

    // The tables, checked against the report's own fields: the same columns
    // in the same order.
    const TRecordStore none;
    TReportReader::TTables tables;
    for (const TReportTable& table : TReportTables::Of(none)) {
        TReportReader::TTable* into = TableOf(tables, table.Name);
        if (into == nullptr)
            continue;
        into->Name = path + ": table " + table.Name;
        if (!query.exec(
                QStringLiteral("SELECT * FROM %1 ORDER BY rowid").arg(QLatin1String(table.Name))))
            return path + ": " + NotACrawlFile + " (no table " + table.Name + ")";
        const QSqlRecord record = query.record();
        bool same = record.count() == int(table.Fields.size());
        for (int i = 0; same && i < record.count(); ++i)
            same =
                record.fieldName(i).toStdString() == ColumnName(table.Fields[std::size_t(i)].Name);
        if (!same)
            return path + ": " + NotACrawlFile + " (the table " + table.Name +
                   " has other columns)";
        while (query.next()) {
            std::vector<std::string> row;
            row.reserve(table.Fields.size());
            for (int i = 0; i < record.count(); ++i)
                row.push_back(FromValue(query.value(i)));
            into->Rows.push_back(std::move(row));
        }
        if (query.lastError().isValid())
            return path + ": " + query.lastError().text().toStdString();
    }
    return TReportReader::Fill(tables, store);
}

} // namespace

std::string TCrawlFile::Save(const TRecordStore& store, const TCrawlOptions& options,
                             const TReport& about, const std::string& path) {
    namespace fs = std::filesystem;
    const fs::path target(path);
    fs::path part = target;
    part += ".part-" + std::to_string(getpid());
    std::error_code ec;
    fs::remove(part, ec);
    std::string error;
    {
        TConnection connection;
        QSqlDatabase& db = connection.Db();
        db.setDatabaseName(QString::fromStdString(part.string()));
        if (!db.open())
            error = db.lastError().text().toStdString();
        else
            error = WriteFile(db, store, options, about);
    }
    if (error.empty()) {
        fs::rename(part, target, ec);
        if (ec)
            error = ec.message();
        // The rename itself lasts once the folder is on the disk.
        const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
        if (const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY); fd >= 0) {
            ::fsync(fd);
            ::close(fd);
        }
    }
    if (!error.empty()) {
        fs::remove(part, ec);
        fs::remove(part.string() + "-journal", ec);
        return path + ": cannot be written: " + error;
    }
    return {};
}

std::string TCrawlFile::Load(const std::string& path, TRecordStore& store, TCrawlOptions& options,
                             TReport& about) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return path + ": no such file";
    QFile probe(QString::fromStdString(path));
    if (!probe.open(QIODevice::ReadOnly))
        return path + ": cannot be read: " + probe.errorString().toStdString();
    if (!probe.read(16).startsWith("SQLite format 3"))
        return path + ": " + NotACrawlFile;
    probe.close();
    TConnection connection;
    QSqlDatabase& db = connection.Db();
    db.setDatabaseName(QString::fromStdString(path));
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (!db.open())
        return path + ": cannot be opened: " + db.lastError().text().toStdString();
    return ReadFile(db, path, store, options, about);
}

std::string TCrawlFile::LoadRecords(const std::string& path, TRecordStore& store) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return TReportReader::Read(path, store); // names the file missing there
    TCrawlOptions options;
    TReport about;
    return Load(path, store, options, about);
}
