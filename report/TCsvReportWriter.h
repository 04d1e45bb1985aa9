#pragma once
// The CSV report: one file a table (pages.csv, objects.csv, ...), a heading
// line of the field names, then a line a row (see CsvWriter).

#include "TReportWriter.h"

class TCsvReportWriter : public TReportWriter {
public:
    std::vector<std::string> FileNames(const TReport& report) const override;
    void Write(std::size_t file, const TReport& report, std::ostream& out) const override;
};
