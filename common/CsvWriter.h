#pragma once
// RFC 4180 output: fields joined by commas, lines ended by CRLF, a field quoted
// when it holds a comma, a double quote, CR or LF. Bytes pass through as they
// are, except that a field a spreadsheet would take for a formula gets a
// leading apostrophe (see SafeCell).

#include <initializer_list>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

class CsvWriter {
public:
    explicit CsvWriter(std::ostream& out) : FOut(out) {}

    void WriteRow(const std::vector<std::string>& fields);
    void WriteRow(std::initializer_list<std::string_view> fields);

    static std::string Quote(std::string_view field);

    // The field as a spreadsheet may open it safely: text starting with '=',
    // '+', '-', '@', a tab or a carriage return gets a leading '\'', so that a
    // server's Content-Type or a page's link is never run as a formula. A
    // plain integer ("-1") is left as it is.
    static std::string SafeCell(std::string_view field);

private:
    template <class Range> void WriteFields(const Range& fields);
    std::ostream& FOut;
    std::string FLine;
};
