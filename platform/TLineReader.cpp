#include "TLineReader.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

std::vector<std::string> TLineReader::SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::size_t stop = end;
        if (stop > start && text[stop - 1] == '\r')
            --stop;
        lines.emplace_back(text, start, stop - start);
        start = end + 1;
    }
    return lines;
}

TLineReadResult TLineReader::LoadFromFile(const std::string& path) {
    TLineReadResult result;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        result.Error = "Cannot open file \"" + path + "\": " + std::strerror(errno);
        return result;
    }
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        result.Error = "Cannot read file \"" + path + "\"";
        return result;
    }
    result.Ok = true;
    result.Lines = SplitLines(text);
    return result;
}
