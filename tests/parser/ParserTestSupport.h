#pragma once
// Helpers for the parser tests: a temporary skip list, a one-call scan, and a
// compact description of record lists.

#include "parser/THtmlParser.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

// Points the parser at a temporary skip file with these lines, for one scope.
class TSkipFile {
public:
    explicit TSkipFile(const std::vector<std::string>& lines, const std::string& eol = "\n")
        : FPrevious(THtmlParser::SkipFileName()),
          FPath(std::filesystem::temp_directory_path() /
                ("marrowby-skip-" + std::to_string(getpid()))) {
        std::ofstream out(FPath, std::ios::binary);
        for (const std::string& line : lines)
            out << line << eol;
        THtmlParser::SetSkipFileName(FPath.string());
    }
    ~TSkipFile() {
        THtmlParser::SetSkipFileName(FPrevious);
        std::filesystem::remove(FPath);
    }

private:
    std::string FPrevious;
    std::filesystem::path FPath;
};

inline const std::string TestBase = "http://host/d1/d2/page.html";
inline const std::string TestDir = "http://host/d1/d2/";

inline std::unique_ptr<THtmlParser> ParsePage(const std::string& page, std::int32_t depth = 0) {
    auto parser = std::make_unique<THtmlParser>(nullptr);
    parser->SetUrl(TestBase);
    parser->SetDocument(page);
    parser->SetDepth(depth);
    parser->Parse();
    return parser;
}

// "url url*count ..." with TestDir left out, after checking what every record
// must hold: its kind and depth, the fields the window fills later still
// zero, and an address of its own.
inline std::string Describe(const THtmlParser& p, bool anchors) {
    const auto& records = anchors ? p.Anchors() : p.Objects();
    std::set<std::string> addresses;
    std::string text;
    for (const _TObjectType* r : records) {
        // The record is packed: copy its fields before comparing them.
        const std::int32_t kind = r->Kind, depth = r->Depth, count = r->Count;
        EXPECT_EQ(kind, anchors ? KIND_PAGE : KIND_OBJECT);
        EXPECT_EQ(depth, anchors ? p.Depth() + 1 : 0);
        EXPECT_TRUE(r->ContentType.empty() && !r->Size && !r->Visited && !r->Status && !r->Id);
        EXPECT_TRUE(addresses.insert(r->Url).second) << r->Url;
        EXPECT_GE(count, 1);
        const bool local = r->Url.starts_with(TestDir);
        text += (text.empty() ? "" : " ") + r->Url.substr(local ? TestDir.size() : 0);
        if (r->Count != 1)
            text += "*" + std::to_string(r->Count);
    }
    return text;
}
