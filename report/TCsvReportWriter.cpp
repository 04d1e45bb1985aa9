#include "TCsvReportWriter.h"

#include "common/CsvWriter.h"

std::vector<std::string> TCsvReportWriter::FileNames(const TReport& report) const {
    std::vector<std::string> names;
    for (const TReportTable& table : report.Tables)
        names.push_back(std::string(table.Name) + ".csv");
    return names;
}

void TCsvReportWriter::Write(std::size_t file, const TReport& report, std::ostream& out) const {
    const TReportTable& table = report.Tables.at(file);
    CsvWriter csv(out);
    std::vector<std::string> heading;
    for (const TReportField& field : table.Fields)
        heading.emplace_back(field.Name);
    csv.WriteRow(heading);
    table.ForEachRow([&csv](const TReportTable::TCells& cells) { csv.WriteRow(cells); });
}
