#pragma once
// A report format: the files it makes of a report. Each file goes to its
// stream as the tables' rows are visited, never built whole in memory. A new
// format is one more writer (see TCrawlReport::Writer).

#include "TReport.h"

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

class TReportWriter {
public:
    virtual ~TReportWriter() = default;

    // The names of its files in the report folder, in the order written.
    virtual std::vector<std::string> FileNames(const TReport& report) const = 0;
    // Writes the file FileNames(report)[file] to out.
    virtual void Write(std::size_t file, const TReport& report, std::ostream& out) const = 0;
};
