#include "TCrawlReport.h"

#include "TDeviceStreamBuf.h"
#include "TRecordStore.h"
#include "TReportColumns.h"
#include "common/CsvWriter.h"

#include <QString>
#include <QTemporaryFile>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <ostream>
#include <system_error>
#include <unistd.h>

namespace {

std::string Reason(int error) {
    return std::strerror(error);
}

// A file of the set, written under a temporary name beside its own; the
// temporary file goes when the set is given up, even by an exception.
struct TPending {
    std::filesystem::path Path;
    std::filesystem::path Temporary;
    ~TPending() {
        if (!Temporary.empty())
            ::unlink(Temporary.c_str());
    }
};

// Opens a new file beside path under a name nobody uses. Its mode is that of
// any new file (0666 less the umask).
int OpenTemporary(const std::filesystem::path& path, std::filesystem::path& temporary) {
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = path;
        temporary += "." + std::to_string(::getpid()) + "-" + std::to_string(serial++) + ".tmp";
        temporary.replace_filename("." + temporary.filename().string());
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

// The rows go to the file as they are made: a report may be as big as the
// crawl, and is never held whole in memory.
template <class Rows>
std::string WriteFile(const std::filesystem::path& path, TPending& pending, const Rows& rows) {
    pending.Path = path;
    const int fd = OpenTemporary(path, pending.Temporary);
    if (fd < 0) {
        const int error = errno;
        pending.Temporary.clear();
        return "cannot write " + path.string() + ": " + Reason(error);
    }
    int error = 0;
    {
        TDeviceStreamBuf buffer(fd);
        std::ostream out(&buffer);
        CsvWriter csv(out);
        rows(csv);
        out.flush();
        error = buffer.Error();
    }
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0)
        return "cannot write " + path.string() + ": " + Reason(error);
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
    store.ForEachLink([&csv](const std::string& page, const TMergedLink& link) {
        const bool anchor = link.Kind == KIND_PAGE;
        csv.WriteRow({page, anchor ? "anchor" : "object", link.Url, std::to_string(link.Count),
                      anchor ? (link.Internal ? "internal" : "external") : ""});
    });
}

void WriteReferrers(CsvWriter& csv, const TRecordStore& store) {
    csv.WriteRow({"URI", "Page"});
    store.ForEachReference([&csv](std::string_view address, std::string_view page) {
        csv.WriteRow({address, page});
    });
}

void WriteExternal(CsvWriter& csv, const TRecordStore& store) {
    WriteHeading(csv, TReportColumns::Externals());
    for (const TExternalRow& row : store.ExternalRows())
        WriteRow(csv, TReportColumns::Externals(), row);
}

} // namespace

std::string TCrawlReport::Write(const TRecordStore& store, const std::string& dir) {
    // A file that outgrows the size limit fails with EFBIG instead of ending
    // the process.
    std::signal(SIGXFSZ, SIG_IGN);
    std::error_code ec;
    const std::filesystem::path root(dir);
    std::filesystem::create_directories(root, ec);
    if (ec)
        return "cannot create " + dir + ": " + Reason(ec.value());
    using TWriter = void (*)(CsvWriter&, const TRecordStore&);
    const TWriter writers[] = {WritePages, WriteObjects, WriteLinks, WriteReferrers, WriteExternal};
    std::array<TPending, std::size(FileNames)> set;
    std::string error;
    // A folder in a file's place would stop the set halfway through.
    for (const char* name : FileNames)
        if (std::filesystem::is_directory(std::filesystem::symlink_status(root / name)))
            return "cannot write " + (root / name).string() + ": " + Reason(EISDIR);
    for (std::size_t i = 0; i < std::size(writers) && error.empty(); ++i)
        error = WriteFile(root / FileNames[i], set[i], [&](CsvWriter& c) { writers[i](c, store); });
    // Only a whole set takes the place of the last one. A rename replaces a
    // symbolic link in the folder instead of writing where it leads.
    for (TPending& file : set) {
        if (!error.empty())
            break;
        if (::rename(file.Temporary.c_str(), file.Path.c_str()) != 0)
            error = "cannot write " + file.Path.string() + ": " + Reason(errno);
        else
            file.Temporary.clear();
    }
    return error;
}

std::string TCrawlReport::CheckFolder(const std::string& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec)
        return "cannot create " + dir + ": " + Reason(ec.value());
    // The folder's own reason first: a file that cannot be made in it may
    // give another (creating in /proc says "No such file or directory").
    if (::access(dir.c_str(), W_OK) != 0)
        return "cannot write into " + dir + ": " + Reason(errno);
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
    for (const TExternalRow& row : store.ExternalRows())
        if (row.Status >= 400)
            return true;
    return false;
}
