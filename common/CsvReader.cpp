#include "CsvReader.h"

#include "CsvWriter.h"

bool CsvReader::Parse(std::string_view text, std::vector<TRow>& rows) {
    rows.clear();
    std::size_t at = 0;
    while (at < text.size()) {
        TRow& row = rows.emplace_back();
        for (;;) {
            std::string& cell = row.emplace_back();
            if (at < text.size() && text[at] == '"') {
                ++at;
                for (;;) {
                    const std::size_t quote = text.find('"', at);
                    if (quote == std::string_view::npos)
                        return false; // left open
                    cell.append(text.substr(at, quote - at));
                    at = quote + 1;
                    if (at < text.size() && text[at] == '"') {
                        cell += '"';
                        ++at;
                        continue;
                    }
                    break;
                }
            } else {
                const std::size_t end = text.find_first_of(",\r\n\"", at);
                const std::size_t stop = end == std::string_view::npos ? text.size() : end;
                cell.append(text.substr(at, stop - at));
                at = stop;
                if (at < text.size() && text[at] == '"')
                    return false;
            }
            if (at == text.size())
                return true;
            if (text[at] == ',') {
                ++at;
                continue;
            }
            if (text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n')
                at += 2;
            else if (text[at] == '\n')
                ++at;
            else
                return false; // a lone CR, or text after a closing quote
            break;
        }
    }
    return true;
}

std::string CsvReader::PlainCell(std::string_view cell) {
    if (cell.starts_with('\'') && CsvWriter::SafeCell(cell.substr(1)).size() == cell.size())
        return std::string(cell.substr(1));
    return std::string(cell);
}
