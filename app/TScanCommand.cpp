#include "app/TScanCommand.h"

#include "common/CsvWriter.h"
#include "common/Limits.h"
#include "parser/THtmlParser.h"
#include "platform/EFOpenError.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <ostream>

namespace {

constexpr char kTooLarge[] = "it is larger than 64 MiB";

// Asks for huge pages for a big buffer about to be filled: a page of tens of
// megabytes then costs a few dozen page faults rather than thousands, which
// cost more than its scan.
void PreferHugePages(char* buffer, std::size_t size) {
#if defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t Huge = 2 * 1024 * 1024;
    const std::uintptr_t begin =
        (reinterpret_cast<std::uintptr_t>(buffer) + Huge - 1) & ~(Huge - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(buffer) + size) & ~(Huge - 1);
    if (end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)buffer;
    (void)size;
#endif
}

// Reads fd to its end into text, refusing more than kMaxPageBytes. Empty when
// all went well; else why not.
std::string ReadAll(int fd, std::string& text) {
    struct stat info {};
    if (fstat(fd, &info) != 0)
        return std::strerror(errno);
    if (S_ISDIR(info.st_mode))
        return std::strerror(EISDIR);
    if (S_ISREG(info.st_mode)) {
        if (static_cast<std::uintmax_t>(info.st_size) > kMaxPageBytes)
            return kTooLarge;
        text.reserve(static_cast<std::size_t>(info.st_size));
        PreferHugePages(text.data(), text.capacity());
    }
    const auto buffer = std::make_unique<char[]>(65536);
    for (;;) {
        const ssize_t n = read(fd, buffer.get(), 65536);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::strerror(errno);
        if (n == 0)
            return {};
        if (text.size() + static_cast<std::size_t>(n) > kMaxPageBytes)
            return kTooLarge;
        text.append(buffer.get(), static_cast<std::size_t>(n));
    }
}

// Closes the descriptor it was given on every way out.
struct TFileDescriptor {
    int Fd;
    ~TFileDescriptor() {
        if (Fd >= 0)
            close(Fd);
    }
};

void WriteList(CsvWriter& csv, const char* kind, const std::vector<_TObjectType*>& records) {
    for (const _TObjectType* record : records)
        csv.WriteRow(
            {kind, record->Url, std::to_string(record->Count), std::to_string(record->Depth)});
}

int Scan(const std::string& file, const std::string& baseUrl, std::int32_t depth, int stdinFd,
         std::ostream& out, std::ostream& err) {
    std::string document;
    if (file == "-") {
        if (const std::string why = ReadAll(stdinFd, document); !why.empty()) {
            err << "marrowby: cannot read standard input: " << why << '\n';
            return 1;
        }
    } else {
        const TFileDescriptor in{open(file.c_str(), O_RDONLY | O_CLOEXEC)};
        if (in.Fd < 0) {
            err << "marrowby: cannot open \"" << file << "\": " << std::strerror(errno) << '\n';
            return 1;
        }
        if (const std::string why = ReadAll(in.Fd, document); !why.empty()) {
            err << "marrowby: cannot read \"" << file << "\": " << why << '\n';
            return 1;
        }
    }

    std::unique_ptr<THtmlParser> parser;
    try {
        parser = std::make_unique<THtmlParser>(nullptr);
    } catch (const EFOpenError& error) {
        err << "marrowby: " << error.what() << '\n';
        return 1;
    }
    parser->SetUrl(baseUrl);
    parser->SetDocument(std::move(document));
    parser->SetDepth(depth);
    // The same thread the crawl runs; without a window its end message is
    // simply dropped.
    parser->Resume();
    parser->WaitFor();
    if (parser->Incomplete()) {
        err << "marrowby: out of memory\n"; // what it found is not all there is
        return 1;
    }

    TScanCommand::WriteRecords(*parser, out);
    out.flush();
    if (!out) {
        err << "marrowby: cannot write the results\n";
        return 1;
    }
    return 0;
}

} // namespace

int TScanCommand::Run(const std::string& file, const std::string& baseUrl, std::int32_t depth,
                      int stdinFd, std::ostream& out, std::ostream& err) {
    try {
        return Scan(file, baseUrl, depth, stdinFd, out, err);
    } catch (const std::bad_alloc&) {
        err << "marrowby: out of memory\n";
        return 1;
    }
}

void TScanCommand::WriteRecords(const THtmlParser& parser, std::ostream& out) {
    CsvWriter csv(out);
    csv.WriteRow({"Kind", "URI", "Count", "Depth"});
    WriteList(csv, "anchor", parser.Anchors());
    WriteList(csv, "object", parser.Objects());
}
