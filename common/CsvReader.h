#pragma once
// RFC 4180 input, as CsvWriter writes it: fields separated by commas, lines
// ended by CR LF (a lone LF too), a quoted field may hold commas, doubled
// quotes and line ends. PlainCell takes back the apostrophe CsvWriter puts
// before a cell a spreadsheet would run as a formula.

#include <string>
#include <string_view>
#include <vector>

class CsvReader {
public:
    using TRow = std::vector<std::string>;

    // The rows of text, cells as written (see PlainCell). False, with rows
    // cut where it stopped, when text is no CSV: a quote left open, or a
    // quote inside a field that was not quoted, or after its closing quote.
    static bool Parse(std::string_view text, std::vector<TRow>& rows);

    // The cell's text before CsvWriter::SafeCell: one leading '\'' is taken
    // off a cell whose rest SafeCell would have marked.
    static std::string PlainCell(std::string_view cell);
};
