#include "TCrawlFile.h"

#include "TCrawlDb.h"
#include "TCrawlSchema.h"

#include "crawl/TCrawlJournal.h"
#include "crawl/TCrawlOptions.h"
#include "crawl/TRecordStore.h"
#include "report/TReport.h"
#include "report/TReportReader.h"

#include <QFile>

#include <filesystem>

std::string TCrawlFile::Save(const TRecordStore& store, const TCrawlOptions& options,
                             const TReport& about, const std::string& path) {
    return TCrawlSchema::WriteBeside(path, [&](const std::string& part) {
        TCrawlDb db;
        TCrawlProgress counters;
        counters.Pages = store.PageRows().size();
        counters.Objects = store.ObjectCount();
        counters.External = store.ExternalCount();
        if (!db.Open(part) ||
            !TCrawlSchema::Write(db, store, options, about, TCrawlSchema::Finished, counters))
            return db.Error();
        return std::string();
    });
}

std::string TCrawlFile::Probe(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return path + ": no such file";
    QFile probe(QString::fromStdString(path));
    if (!probe.open(QIODevice::ReadOnly))
        return path + ": cannot be read: " + probe.errorString().toStdString();
    if (!probe.read(16).startsWith("SQLite format 3"))
        return path + ": " + TCrawlSchema::NotACrawlFile;
    return {};
}

std::string TCrawlFile::Load(const std::string& path, TRecordStore& store, TCrawlOptions& options,
                             TReport& about) {
    if (std::string error = Probe(path); !error.empty())
        return error;
    TCrawlDb db;
    if (!db.Open(path, true))
        return path + ": cannot be opened: " + db.Error();
    TCrawlSchema::TMeta meta;
    if (std::string error = TCrawlSchema::Check(db, path, options, about, meta); !error.empty())
        return error;
    return TCrawlSchema::ReadReportTables(db, path, meta.Version, store);
}

std::string TCrawlFile::LoadRecords(const std::string& path, TRecordStore& store) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return TReportReader::Read(path, store); // names the file missing there
    TCrawlOptions options;
    TReport about;
    return Load(path, store, options, about);
}
