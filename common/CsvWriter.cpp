#include "CsvWriter.h"

std::string CsvWriter::Quote(std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos)
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

template <class Range> void CsvWriter::WriteFields(const Range& fields) {
    bool first = true;
    for (const auto& field : fields) {
        if (!first)
            FOut << ',';
        FOut << Quote(field);
        first = false;
    }
    FOut << "\r\n";
}

void CsvWriter::WriteRow(const std::vector<std::string>& fields) { WriteFields(fields); }

void CsvWriter::WriteRow(std::initializer_list<std::string_view> fields) { WriteFields(fields); }
