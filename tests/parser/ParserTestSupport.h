#pragma once
// Helpers for the parser tests: a temporary skip list, a one-call page scan,
// and comparison of record lists.

#include "parser/THtmlParser.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

// Writes the given lines to a temporary skip file and points the parser at
// it; the previous file name comes back on destruction.
class TSkipFile {
public:
    explicit TSkipFile(const std::vector<std::string>& lines, const std::string& eol = "\n")
        : FPrevious(THtmlParser::SkipFileName()) {
        static int serial = 0;
        FPath = std::filesystem::temp_directory_path() /
                ("marrowby-skip-" + std::to_string(getpid()) + "-" + std::to_string(++serial));
        std::ofstream out(FPath, std::ios::binary);
        for (const std::string& line : lines)
            out << line << eol;
        THtmlParser::SetSkipFileName(FPath.string());
    }
    ~TSkipFile() {
        THtmlParser::SetSkipFileName(FPrevious);
        std::filesystem::remove(FPath);
    }
    TSkipFile(const TSkipFile&) = delete;
    TSkipFile& operator=(const TSkipFile&) = delete;

private:
    std::string FPrevious;
    std::filesystem::path FPath;
};

inline const char* const TestBase = "http://host/d1/d2/page.html";

// A parser (on the current skip file) that has scanned the page.
inline std::unique_ptr<THtmlParser>
ParsePage(const std::string& page, const std::string& base = TestBase, std::int32_t depth = 0) {
    auto parser = std::make_unique<THtmlParser>(nullptr);
    parser->SetUrl(base);
    parser->SetDocument(page);
    parser->SetDepth(depth);
    parser->Parse();
    return parser;
}

struct TRecordRow {
    std::string Url;
    std::int32_t Count;
    std::int32_t Depth;
    bool operator==(const TRecordRow&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const TRecordRow& row) {
    return out << "{" << row.Url << ", " << row.Count << ", " << row.Depth << "}";
}

// The records as rows, after checking what every record must satisfy: the
// given kind, the defaults the window fills later, and a count map that
// agrees with the records.
inline std::vector<TRecordRow> Rows(const std::vector<_TObjectType*>& records,
                                    const THtmlParser::TCountMap& counts, std::int16_t kind) {
    std::vector<TRecordRow> rows;
    for (const _TObjectType* r : records) {
        EXPECT_EQ(r->Kind, kind) << r->Url;
        EXPECT_TRUE(r->ContentType.empty() && r->Size == 0 && r->Visited == 0 && r->Status == 0 &&
                    r->Id == 0)
            << r->Url;
        const auto count = counts.find(r->Url);
        EXPECT_TRUE(count != counts.end() && count->second == std::uint32_t(r->Count)) << r->Url;
        rows.push_back({r->Url, r->Count, r->Depth});
    }
    EXPECT_EQ(counts.size(), records.size());
    return rows;
}

inline std::vector<TRecordRow> AnchorRows(const THtmlParser& p) {
    return Rows(p.Anchors(), p.AnchorCounts(), KIND_PAGE);
}
inline std::vector<TRecordRow> ObjectRows(const THtmlParser& p) {
    return Rows(p.Objects(), p.ObjectCounts(), KIND_OBJECT);
}
