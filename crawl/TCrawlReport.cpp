#include "TCrawlReport.h"

#include "TDeviceStreamBuf.h"
#include "TRecordStore.h"
#include "TReportColumns.h"
#include "common/CsvWriter.h"

#include <QSaveFile>
#include <QString>
#include <QTemporaryFile>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <ostream>
#include <system_error>

#include <unistd.h>

namespace {

// The rows go to the file as they are made: a report may be as big as the
// crawl, and is never held whole in memory.
std::string WriteFile(const std::filesystem::path& path,
                      const std::function<void(CsvWriter&)>& rows) {
    QSaveFile file(QString::fromStdString(path.string()));
    bool written = file.open(QIODevice::WriteOnly);
    if (written) {
        TDeviceStreamBuf buffer(file);
        std::ostream out(&buffer);
        CsvWriter csv(out);
        rows(csv);
        written = out.flush() && buffer.Ok();
    }
    if (!written || !file.commit())
        return "cannot write " + path.string() + ": " + file.errorString().toStdString();
    return {};
}

template <class Row, std::size_t N>
void WriteHeading(CsvWriter& csv, const std::array<TReportColumn<Row>, N>& columns) {
    std::vector<std::string> names;
    for (const TReportColumn<Row>& column : columns)
        names.emplace_back(column.Name);
    csv.WriteRow(names);
}

template <class Row, std::size_t N>
void WriteRow(CsvWriter& csv, const std::array<TReportColumn<Row>, N>& columns, const Row& row) {
    std::vector<std::string> fields;
    for (const TReportColumn<Row>& column : columns)
        fields.push_back(column.Text(row));
    csv.WriteRow(fields);
}

void WritePages(CsvWriter& csv, const TRecordStore& store) {
    WriteHeading(csv, TReportColumns::Pages());
    for (const TGoneRow& row : store.PageRows())
        WriteRow(csv, TReportColumns::Pages(), row);
}

void WriteObjects(CsvWriter& csv, const TRecordStore& store) {
    WriteHeading(csv, TReportColumns::Objects());
    for (const _TObjectType* record : store.ObjectsById())
        WriteRow(csv, TReportColumns::Objects(), *record);
}

void WriteLinks(CsvWriter& csv, const TRecordStore& store) {
    csv.WriteRow({"Page", "Kind", "URI", "Count", "Scope"});
    for (const TMergedPage& page : store.Merged()) {
        for (const TMergedLink& link : page.Links) {
            const bool anchor = link.Kind == KIND_PAGE;
            csv.WriteRow({page.Url, anchor ? "anchor" : "object", link.Url,
                          std::to_string(link.Count),
                          anchor ? (link.Internal ? "internal" : "external") : ""});
        }
    }
}

void WriteReferrers(CsvWriter& csv, const TRecordStore& store) {
    csv.WriteRow({"URI", "Page"});
    store.ForEachReference([&csv](std::string_view address, std::string_view page) {
        csv.WriteRow({address, page});
    });
}

} // namespace

std::string TCrawlReport::Write(const TRecordStore& store, const std::string& dir) {
    std::error_code ec;
    const std::filesystem::path root(dir);
    std::filesystem::create_directories(root, ec);
    if (ec)
        return "cannot create " + dir + ": " + ec.message();
    using TWriter = void (*)(CsvWriter&, const TRecordStore&);
    const TWriter writers[] = {WritePages, WriteObjects, WriteLinks, WriteReferrers};
    for (std::size_t i = 0; i < std::size(writers); ++i) {
        const std::string error =
            WriteFile(root / FileNames[i], [&](CsvWriter& c) { writers[i](c, store); });
        if (!error.empty())
            return error;
    }
    return {};
}

std::string TCrawlReport::CheckFolder(const std::string& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec)
        return "cannot create " + dir + ": " + ec.message();
    // The folder's own reason first: a file that cannot be made in it may
    // give another (creating in /proc says "No such file or directory").
    if (::access(dir.c_str(), W_OK) != 0)
        return "cannot write into " + dir + ": " + std::strerror(errno);
    QTemporaryFile probe(QString::fromStdString(dir) + "/.marrowby-XXXXXX");
    if (!probe.open())
        return "cannot write into " + dir + ": " + probe.errorString().toStdString();
    return {};
}

bool TCrawlReport::HasBrokenRows(const TRecordStore& store) {
    for (const TGoneRow& row : store.PageRows())
        if (row.Status >= 400)
            return true;
    for (const _TObjectType* record : store.ObjectsById())
        if (std::int32_t{record->Status} >= 400)
            return true;
    return false;
}
