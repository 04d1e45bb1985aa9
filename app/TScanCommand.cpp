#include "app/TScanCommand.h"

#include "common/CsvWriter.h"
#include "parser/THtmlParser.h"
#include "platform/EFOpenError.h"

#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ios>
#include <istream>
#include <memory>
#include <new>
#include <ostream>
#include <stdexcept>
#include <string>

namespace {

// Asks for the big pages of a big buffer that is about to be filled: a page
// of several megabytes then costs a few page faults rather than thousands.
void PreferHugePages(char* buffer, std::size_t size) {
#if defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t Huge = 2 * 1024 * 1024;
    const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(buffer) + Huge - 1) & ~(Huge - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(buffer) + size) & ~(Huge - 1);
    if (end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)buffer;
    (void)size;
#endif
}

// Reads the whole stream into text, starting with room for expected bytes.
// A regular file is read straight into a string of its size, so a big page is
// held once, not in a growing buffer and then a copy of it; a pipe is read in
// growing steps. False when it cannot be read (a directory, say), or not
// held in memory.
bool ReadAll(std::istream& in, std::string& text, std::size_t expected = 0) try {
    std::streambuf& source = *in.rdbuf();
    text.reserve(expected);
    PreferHugePages(text.data(), text.capacity());
    text.resize(expected);
    std::size_t used = 0;
    for (;;) {
        if (used == text.size()) {
            if (std::char_traits<char>::eq_int_type(source.sgetc(), std::char_traits<char>::eof()))
                break;
            text.resize(std::max<std::size_t>(text.size() * 2, 64 * 1024));
        }
        const std::streamsize got =
            source.sgetn(text.data() + used, static_cast<std::streamsize>(text.size() - used));
        if (got <= 0)
            break;
        used += static_cast<std::size_t>(got);
    }
    text.resize(used);
    return !in.bad();
} catch (const std::ios_base::failure&) {
    return false;
} catch (const std::bad_alloc&) {
    return false;
} catch (const std::length_error&) {
    return false;
}

// The size of a regular file, or zero.
std::size_t RegularFileSize(const std::string& file) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error))
        return 0;
    const std::uintmax_t size = std::filesystem::file_size(file, error);
    return error ? 0 : static_cast<std::size_t>(size);
}

void WriteList(CsvWriter& csv, const char* kind, const std::vector<_TObjectType*>& records) {
    for (const _TObjectType* record : records)
        csv.WriteRow(
            {kind, record->Url, std::to_string(record->Count), std::to_string(record->Depth)});
}

} // namespace

int TScanCommand::Run(const std::string& file, const std::string& baseUrl, std::int32_t depth,
                      std::istream& stdinStream, std::ostream& out, std::ostream& err) {
    std::string document;
    if (file == "-") {
        if (!ReadAll(stdinStream, document)) {
            err << "marrowby: cannot read standard input\n";
            return 1;
        }
    } else {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            err << "marrowby: cannot open \"" << file << "\": " << std::strerror(errno) << '\n';
            return 1;
        }
        if (!ReadAll(in, document, RegularFileSize(file))) {
            err << "marrowby: cannot read \"" << file << "\"\n";
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

    WriteRecords(*parser, out);
    out.flush();
    if (!out) {
        err << "marrowby: cannot write the results\n";
        return 1;
    }
    return 0;
}

void TScanCommand::WriteRecords(const THtmlParser& parser, std::ostream& out) {
    CsvWriter csv(out);
    csv.WriteRow({"Kind", "URI", "Count", "Depth"});
    WriteList(csv, "anchor", parser.Anchors());
    WriteList(csv, "object", parser.Objects());
}
