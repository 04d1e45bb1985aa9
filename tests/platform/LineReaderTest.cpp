#include "platform/TLineReader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <unistd.h>

namespace {

using Lines = std::vector<std::string>;

TEST(LineReader, SplitsLikeAStringList) {
    const struct {
        const char* name;
        std::string text;
        Lines lines;
    } table[] = {
        {"empty", "", {}},
        {"one line without break", "BR", {"BR"}},
        {"final break adds no line", "BR\nP\n", {"BR", "P"}},
        {"CRLF", "BR\r\nP\r\n", {"BR", "P"}},
        {"only the line-ending CR goes", "a\rb\r\r\n", {"a\rb\r"}},
        {"empty lines stay", "\n\nx\n", {"", "", "x"}},
        {"blanks stay", " td \n", {" td "}},
        {"lone CR at end of text stays", "x\r", {"x"}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(TLineReader::SplitLines(row.text), row.lines);
    }
}

TEST(LineReader, LoadsAFile) {
    char path[] = "/tmp/marrowby-lines-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "BR\r\nP\n", 6), 6);
    close(fd);
    const TLineReadResult r = TLineReader::LoadFromFile(path);
    std::remove(path);
    EXPECT_TRUE(r.Ok);
    EXPECT_EQ(r.Lines, (Lines{"BR", "P"}));
}

TEST(LineReader, MissingFileIsAnError) {
    const TLineReadResult r = TLineReader::LoadFromFile("/nonexistent/TTags.txt");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.Lines.empty());
    EXPECT_NE(r.Error.find("/nonexistent/TTags.txt"), std::string::npos);
}

} // namespace
