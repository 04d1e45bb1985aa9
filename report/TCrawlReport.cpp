#include "TCrawlReport.h"

#include "TCsvReportWriter.h"
#include "TDeviceStreamBuf.h"
#include "THtmlReportWriter.h"
#include "TJUnitReportWriter.h"
#include "TJsonReportWriter.h"
#include "TReportTables.h"
#include "crawl/TRecordStore.h"

#include <QString>
#include <QTemporaryFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <ostream>
#include <system_error>
#include <unistd.h>
#include <unordered_set>
#include <vector>

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
    try {
        TDeviceStreamBuf buffer(fd);
        std::ostream out(&buffer);
        rows(out);
        out.flush();
        error = buffer.Error();
    } catch (...) {
        ::close(fd);
        throw;
    }
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0)
        return "cannot write " + path.string() + ": " + Reason(error);
    return {};
}

// One file of the set: which writer makes it, and which of its files it is.
struct TSetFile {
    const TReportWriter* Writer = nullptr;
    std::size_t Index = 0;
    TPending Pending;
};

} // namespace

const std::vector<std::string>& TCrawlReport::Formats() {
    static const std::vector<std::string> formats{"csv", "json", "html", "junit"};
    return formats;
}

std::unique_ptr<TReportWriter> TCrawlReport::Writer(std::string_view format) {
    if (format == "csv")
        return std::make_unique<TCsvReportWriter>();
    if (format == "json")
        return std::make_unique<TJsonReportWriter>();
    if (format == "html")
        return std::make_unique<THtmlReportWriter>();
    if (format == "junit")
        return std::make_unique<TJUnitReportWriter>();
    return nullptr;
}

std::vector<std::string> TCrawlReport::FileNames(const std::vector<std::string>& formats) {
    static const TRecordStore none;
    TReport report;
    report.Tables = TReportTables::Of(none);
    std::vector<std::string> names;
    for (const std::string& format : formats)
        if (const std::unique_ptr<TReportWriter> writer = Writer(format))
            for (std::string& name : writer->FileNames(report))
                if (std::find(names.begin(), names.end(), name) == names.end())
                    names.push_back(std::move(name));
    return names;
}

std::string TCrawlReport::Write(const TRecordStore& store, const std::string& dir,
                                const std::vector<std::string>& formats, TReport about) {
    // A file that outgrows the size limit fails with EFBIG instead of ending
    // the process.
    std::signal(SIGXFSZ, SIG_IGN);
    TReport& report = about;
    report.Tables = TReportTables::Of(store);
    report.Records = &store; // the verdicts are counted from them where listed
    return WriteSet(report, dir, formats);
}

std::string TCrawlReport::WriteSet(const TReport& report, const std::string& dir,
                                   const std::vector<std::string>& formats) {
    std::signal(SIGXFSZ, SIG_IGN);
    std::vector<std::unique_ptr<TReportWriter>> writers;
    std::deque<TSetFile> set; // a file's place never moves: it owns a temporary file
    const std::filesystem::path root(dir);
    for (const std::string& format : formats) {
        std::unique_ptr<TReportWriter> writer = Writer(format);
        if (!writer)
            return "no report format \"" + format + "\"";
        const std::vector<std::string> names = writer->FileNames(report);
        for (std::size_t i = 0; i < names.size(); ++i) {
            const std::filesystem::path path = root / names[i];
            if (std::any_of(set.begin(), set.end(),
                            [&](const TSetFile& file) { return file.Pending.Path == path; }))
                continue; // a format named twice
            set.emplace_back();
            set.back().Writer = writer.get();
            set.back().Index = i;
            set.back().Pending.Path = path;
        }
        writers.push_back(std::move(writer));
    }
    std::error_code ec;
    std::filesystem::create_directories(root, ec);
    if (ec)
        return "cannot create " + dir + ": " + Reason(ec.value());
    // A folder in a file's place would stop the set halfway through.
    for (const TSetFile& file : set)
        if (std::filesystem::is_directory(std::filesystem::symlink_status(file.Pending.Path)))
            return "cannot write " + file.Pending.Path.string() + ": " + Reason(EISDIR);
    std::string error;
    const std::size_t failures = report.Records != nullptr ? report.Records->ReadFailures() : 0;
    for (TSetFile& file : set) {
        error = WriteFile(file.Pending.Path, file.Pending,
                          [&](std::ostream& out) { file.Writer->Write(file.Index, report, out); });
        if (!error.empty())
            return error;
    }
    // Rows the crawl file no longer gives back: the set would lack them.
    if (report.Records != nullptr && report.Records->ReadFailures() != failures)
        return "cannot write the report: the crawl file cannot be read back";
    // Only a whole set takes the place of the last one. A rename replaces a
    // symbolic link in the folder instead of writing where it leads.
    for (TSetFile& file : set) {
        if (::rename(file.Pending.Temporary.c_str(), file.Pending.Path.c_str()) != 0)
            return "cannot write " + file.Pending.Path.string() + ": " + Reason(errno);
        file.Pending.Temporary.clear();
    }
    return {};
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

std::array<std::size_t, TVerdicts::Count> TCrawlReport::CountVerdicts(const TRecordStore& store) {
    std::array<std::size_t, TVerdicts::Count> counts{};
    // Each address once: marked by its place among those referenced, a bit
    // each, or (never referenced, as the start page) kept aside.
    std::vector<bool> counted(store.ReferencedCount() + 1);
    std::unordered_set<std::string_view> aside;
    const auto count = [&](const TAddressEntry* entry, std::string_view address, TVerdict verdict) {
        const std::int32_t place = entry != nullptr ? entry->Referenced : 0;
        if (place > 0 ? !counted[static_cast<std::size_t>(place)] : aside.insert(address).second) {
            if (place > 0)
                counted[static_cast<std::size_t>(place)] = true;
            ++counts[static_cast<std::size_t>(verdict)];
        }
    };
    for (const TGoneRow& row : store.PageRows())
        count(store.Find(row.Url), row.Url, row.Verdict);
    for (const TAddressEntry* entry : store.ObjectEntriesById())
        count(entry, entry->Object->Url, entry->Verdict);
    for (const TExternalRow& row : store.ExternalRows())
        count(store.Find(row.Url), row.Url, row.Verdict);
    return counts;
}

bool TCrawlReport::HasBrokenRows(const TRecordStore& store, bool strict) {
    const std::array<std::size_t, TVerdicts::Count> counts = CountVerdicts(store);
    for (std::size_t i = 0; i < counts.size(); ++i)
        if (counts[i] > 0 && TVerdicts::Fails(static_cast<TVerdict>(i), strict))
            return true;
    return false;
}
