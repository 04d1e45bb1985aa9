// The whole scan of a page made of arbitrary bytes, with the shipped skip list.

#include "parser/THtmlParser.h"

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    THtmlParser::SetSkipFileName(MARROWBY_SKIP_FILE);
    return 0;
}

namespace {

// Each distinct address has one record, counted at least once, all of it
// ASCII, and no page yields more addresses than it has bytes. Each has its
// line, in the order the page gives, and no page has more lines than bytes.
void CheckRecords(const std::vector<_TObjectType*>& records,
                  const std::vector<std::uint32_t>& lines, std::size_t size) {
    if (lines.size() != records.size())
        std::abort();
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i] < 1 || lines[i] > size + 1 || (i > 0 && lines[i] < lines[i - 1]))
            std::abort();
    std::set<std::string> addresses;
    std::size_t occurrences = 0;
    for (const _TObjectType* record : records) {
        const std::int32_t count = record->Count;
        if (record->Url.empty() || count < 1 || !addresses.insert(record->Url).second)
            std::abort();
        for (const char c : record->Url)
            if (static_cast<unsigned char>(c) >= 0x80)
                std::abort();
        occurrences += static_cast<std::size_t>(count);
    }
    if (occurrences > size)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    THtmlParser parser(nullptr);
    parser.SetUrl("http://host/d1/d2/page.html");
    parser.SetDocument(std::string(reinterpret_cast<const char*>(data), size));
    parser.SetDepth(1);
    parser.Parse();
    CheckRecords(parser.Anchors(), parser.AnchorLines(), size);
    CheckRecords(parser.Objects(), parser.ObjectLines(), size);
    return 0;
}
