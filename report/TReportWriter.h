#pragma once
// A report format: the files it makes of the report's tables. Each file goes
// to its stream as its rows are visited, never built whole in memory. A new
// format is one more writer (see TCrawlReport::Writer).

#include "TReportTable.h"

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

class TReportWriter {
public:
    virtual ~TReportWriter() = default;

    // The names of its files in the report folder, in the order written.
    virtual std::vector<std::string> FileNames(const std::vector<TReportTable>& tables) const = 0;
    // Writes the file FileNames(tables)[file] to out.
    virtual void Write(std::size_t file, const std::vector<TReportTable>& tables,
                       std::ostream& out) const = 0;
};
