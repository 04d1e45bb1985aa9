#include "TCrawlDb.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QStringDecoder>

#include <sqlite3.h>

#include <algorithm>
#include <atomic>

TCrawlDb::TCrawlDb() {
    static std::atomic<unsigned> count{0};
    FName = QStringLiteral("marrowby-crawl-file-%1").arg(count++);
    FDb = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), FName);
}

TCrawlDb::~TCrawlDb() {
    Close();
    FDb = QSqlDatabase();
    QSqlDatabase::removeDatabase(FName);
}

void TCrawlDb::Close() {
    Unkeep(nullptr);
    FDb.close();
}

void TCrawlDb::Unkeep(sqlite3* handle) {
    for (const auto& kept : FKept)
        sqlite3_finalize(kept.second);
    FKept.clear();
    FKeptOn = handle;
}

bool TCrawlDb::Open(const std::string& path, bool readOnly) {
    FDb.setDatabaseName(QString::fromStdString(path));
    if (readOnly)
        FDb.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (!FDb.open())
        return Fail(FDb.lastError().text().toStdString());
    return true;
}

bool TCrawlDb::Exec(const std::string& sql) {
    if (Failed())
        return false;
    // SQLite's own, where Qt SQL would prepare a statement to run it once
    // (a transaction begun and ended every page).
    if (sqlite3* handle = Handle()) {
        if (sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
            return Fail(std::string(sqlite3_errmsg(handle)));
        return true;
    }
    QSqlQuery query(FDb);
    if (!query.exec(QString::fromStdString(sql)))
        return Fail(query);
    return true;
}

bool TCrawlDb::ExecKept(const char* sql) {
    if (Failed())
        return false;
    sqlite3* handle = Handle();
    if (handle == nullptr)
        return Exec(sql);
    if (handle != FKeptOn)
        Unkeep(handle); // kept on a connection closed since
    auto kept =
        std::find_if(FKept.begin(), FKept.end(), [sql](const auto& k) { return k.first == sql; });
    if (kept == FKept.end()) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(handle, sql, -1, &statement, nullptr) != SQLITE_OK) {
            sqlite3_finalize(statement);
            return Fail(std::string(sqlite3_errmsg(handle)));
        }
        kept = FKept.emplace(FKept.end(), sql, statement);
    }
    const int done = sqlite3_step(kept->second);
    const std::string error = done == SQLITE_DONE ? std::string() : sqlite3_errmsg(handle);
    sqlite3_reset(kept->second);
    return done == SQLITE_DONE || Fail(error);
}

bool TCrawlDb::Prepare(QSqlQuery& query, const std::string& sql) {
    if (Failed())
        return false;
    if (!query.prepare(QString::fromStdString(sql)))
        return Fail(query);
    return true;
}

bool TCrawlDb::Run(QSqlQuery& query) {
    if (Failed())
        return false;
    if (!query.exec())
        return Fail(query);
    return true;
}

bool TCrawlDb::Fail(const QSqlQuery& query) {
    return Fail(query.lastError().text().toStdString());
}

bool TCrawlDb::Fail(const std::string& error) {
    if (FError.empty())
        FError = error.empty() ? std::string("unknown error") : error;
    return false;
}

void TCrawlDb::Rollback() {
    QSqlQuery query(FDb);
    query.exec(QStringLiteral("ROLLBACK"));
}

sqlite3* TCrawlDb::Handle() const {
    if (!FDb.isOpen())
        return nullptr;
    const QVariant handle = FDb.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(handle.constData());
}

bool TCrawlDb::IsUtf8(std::string_view text) {
    // Most text is ASCII: the decoder (and its copy) only for the rest.
    if (std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; }))
        return true;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder.decode(QByteArrayView(text.data(), qsizetype(text.size())));
    return !decoder.hasError();
}

QVariant TCrawlDb::TextValue(const std::string& text) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = decoder.decode(QByteArrayView(text.data(), qsizetype(text.size())));
    if (!decoder.hasError())
        return decoded;
    return QByteArray(text.data(), qsizetype(text.size()));
}

std::string TCrawlDb::FromValue(const QVariant& value) {
    if (value.typeId() == QMetaType::QByteArray)
        return value.toByteArray().toStdString();
    return value.toString().toStdString();
}
