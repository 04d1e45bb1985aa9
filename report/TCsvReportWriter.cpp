#include "TCsvReportWriter.h"

#include "common/CsvWriter.h"

std::vector<std::string>
TCsvReportWriter::FileNames(const std::vector<TReportTable>& tables) const {
    std::vector<std::string> names;
    for (const TReportTable& table : tables)
        names.push_back(std::string(table.Name) + ".csv");
    return names;
}

void TCsvReportWriter::Write(std::size_t file, const std::vector<TReportTable>& tables,
                             std::ostream& out) const {
    const TReportTable& table = tables.at(file);
    CsvWriter csv(out);
    std::vector<std::string> heading;
    for (const TReportField& field : table.Fields)
        heading.emplace_back(field.Name);
    csv.WriteRow(heading);
    table.ForEachRow([&csv](const TReportTable::TCells& cells) { csv.WriteRow(cells); });
}
