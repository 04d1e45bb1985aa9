#include "CsvWriter.h"

namespace {

bool NeedsQuotes(std::string_view field) noexcept {
    for (const char c : field)
        if (c == ',' || c == '"' || c == '\r' || c == '\n')
            return true;
    return false;
}

bool IsInteger(std::string_view field) noexcept {
    if (field.starts_with('-'))
        field.remove_prefix(1);
    if (field.empty())
        return false;
    for (const char c : field)
        if (c < '0' || c > '9')
            return false;
    return true;
}

bool LooksLikeFormula(std::string_view field) noexcept {
    if (field.empty() || std::string_view("=+-@\t\r").find(field.front()) == std::string_view::npos)
        return false;
    return !IsInteger(field);
}

} // namespace

std::string CsvWriter::SafeCell(std::string_view field) {
    if (!LooksLikeFormula(field))
        return std::string(field);
    std::string safe = "'";
    safe += field;
    return safe;
}

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

// The row is made in one buffer, kept from row to row, and goes to the
// stream in one write: a report has millions of rows.
template <class Range> void CsvWriter::WriteFields(const Range& fields) {
    FLine.clear();
    bool first = true;
    for (const auto& field : fields) {
        const std::string_view text(field);
        if (!first)
            FLine += ',';
        first = false;
        const bool quoted = NeedsQuotes(text);
        if (quoted)
            FLine += '"';
        if (LooksLikeFormula(text))
            FLine += '\'';
        if (!quoted) {
            FLine += text;
            continue;
        }
        for (const char c : text) {
            if (c == '"')
                FLine += '"';
            FLine += c;
        }
        FLine += '"';
    }
    FLine += "\r\n";
    FOut.write(FLine.data(), static_cast<std::streamsize>(FLine.size()));
}

void CsvWriter::WriteRow(const std::vector<std::string>& fields) { WriteFields(fields); }

void CsvWriter::WriteRow(std::initializer_list<std::string_view> fields) { WriteFields(fields); }
