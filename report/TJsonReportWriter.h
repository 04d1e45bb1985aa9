#pragma once
// The JSON report, report.json: one document with what crawl it is of and
// every table as an array of objects, one a row, keyed by the tables' field
// names (see docs/REPORTS.md). Written as the rows are visited.

#include "TReportWriter.h"

#include <string>
#include <string_view>

class TJsonReportWriter : public TReportWriter {
public:
    std::vector<std::string> FileNames(const TReport& report) const override;
    void Write(std::size_t file, const TReport& report, std::ostream& out) const override;

    // text as a JSON string, quotes included. Bytes that are no UTF-8 become
    // U+FFFD; control characters are escaped.
    static void AppendString(std::string& json, std::string_view text);
};
