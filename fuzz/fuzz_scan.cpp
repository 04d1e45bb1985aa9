// The whole scan of a page made of arbitrary bytes, with the shipped skip list.

#include "parser/THtmlParser.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    THtmlParser::SetSkipFileName(MARROWBY_SKIP_FILE);
    return 0;
}

namespace {

// Each distinct address has one record, whose count the map agrees with.
void CheckRecords(const std::vector<_TObjectType*>& records, const THtmlParser::TCountMap& counts) {
    if (records.size() != counts.size())
        std::abort();
    for (const _TObjectType* record : records) {
        const auto count = counts.find(record->Url);
        if (record->Url.empty() || count == counts.end() ||
            count->second != static_cast<std::uint32_t>(record->Count))
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    THtmlParser parser(nullptr);
    parser.SetUrl("http://host/d1/d2/page.html");
    parser.SetDocument(std::string(reinterpret_cast<const char*>(data), size));
    parser.SetDepth(1);
    parser.Parse();
    CheckRecords(parser.Anchors(), parser.AnchorCounts());
    CheckRecords(parser.Objects(), parser.ObjectCounts());
    return 0;
}
