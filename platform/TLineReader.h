#pragma once
// Reads a text file as lines, the way a string list loads from a file: lines in
// file order, each unchanged but for a line-ending CR; a last line without a
// line break counts, a final line break adds no empty line.

#include <string>
#include <vector>

struct TLineReadResult {
    bool Ok = false;
    std::vector<std::string> Lines;
    std::string Error; // why the file could not be read, when !Ok
};

class TLineReader {
public:
    static TLineReadResult LoadFromFile(const std::string& path);
    static std::vector<std::string> SplitLines(const std::string& text);
};
