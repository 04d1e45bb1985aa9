#pragma once
// One connection of Qt SQL's SQLite driver to a crawl file, under a name of
// its own (so that threads and nested uses never share one) and removed when
// done, with the statements run through it: the first error is kept, and
// every step after it is skipped, so a chain of writes reads as one && chain.
// Used on the thread that made it.

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

class TCrawlDb {
public:
    TCrawlDb();
    ~TCrawlDb();
    TCrawlDb(const TCrawlDb&) = delete;
    TCrawlDb& operator=(const TCrawlDb&) = delete;

    // Opens the file at path (created when missing, unless readOnly). False,
    // with Error() set, when it cannot be.
    bool Open(const std::string& path, bool readOnly = false);
    // Closes the connection (Open may open it again).
    void Close();
    QSqlDatabase& Db() noexcept { return FDb; }
    // SQLite's own handle of the open connection (null when closed), for
    // statements run many times a page: Qt SQL's cost a value is several
    // times SQLite's. Its statements go before the connection does.
    sqlite3* Handle() const;

    bool Exec(const std::string& sql);
    // The same for a statement run again and again (BEGIN, COMMIT): prepared
    // once, kept till the connection goes.
    bool ExecKept(const char* sql);
    QSqlQuery Query() const { return QSqlQuery(FDb); }
    bool Prepare(QSqlQuery& query, const std::string& sql);
    bool Run(QSqlQuery& query);
    // Keeps the query's error as the first, unless one came before; false.
    bool Fail(const QSqlQuery& query);
    bool Fail(const std::string& error);
    bool Failed() const noexcept { return !FError.empty(); }
    const std::string& Error() const noexcept { return FError; }
    // The error kept, forgotten: the next chain of steps starts afresh.
    std::string TakeError() { return std::exchange(FError, {}); }
    // Ends the open transaction without keeping it, whatever came before
    // (SQLite may have ended it already); the error kept stays.
    void Rollback();

    // Text as SQLite keeps it: as text when it is UTF-8, so that queries
    // compare it as text; else its bytes as they are, as a blob.
    static QVariant TextValue(const std::string& text);
    static bool IsUtf8(std::string_view text);
    // The text or the blob back, byte for byte.
    static std::string FromValue(const QVariant& value);

private:
    // The statements kept let go of; those kept from now on are handle's.
    void Unkeep(sqlite3* handle);

    QString FName;
    QSqlDatabase FDb;
    std::string FError;
    std::vector<std::pair<std::string, sqlite3_stmt*>> FKept;
    sqlite3* FKeptOn = nullptr;
};
