#include "CsvWriter.h"

namespace {

bool NeedsQuotes(std::string_view field) noexcept {
    for (const char c : field)
        if (c == ',' || c == '"' || c == '\r' || c == '\n')
            return true;
    return false;
}

} // namespace

std::string CsvWriter::Quote(std::string_view field) {
    if (!NeedsQuotes(field))
        return std::string(field);
    std::string quoted = "\"";
    for (char c : field) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

// A field that needs no quotes, as most do, is written as it is, uncopied.
template <class Range> void CsvWriter::WriteFields(const Range& fields) {
    bool first = true;
    for (const auto& field : fields) {
        const std::string_view text(field);
        if (!first)
            FOut.put(',');
        if (NeedsQuotes(text))
            FOut << Quote(text);
        else
            FOut.write(text.data(), static_cast<std::streamsize>(text.size()));
        first = false;
    }
    FOut.write("\r\n", 2);
}

void CsvWriter::WriteRow(const std::vector<std::string>& fields) { WriteFields(fields); }

void CsvWriter::WriteRow(std::initializer_list<std::string_view> fields) { WriteFields(fields); }
