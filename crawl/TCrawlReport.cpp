#include "TCrawlReport.h"

#include "common/CsvWriter.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <system_error>

namespace {

std::string Num(std::int64_t value) { return std::to_string(value); }

std::string WriteFile(const std::filesystem::path& path,
                      const std::function<void(CsvWriter&)>& rows) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return "cannot write " + path.string();
    CsvWriter csv(out);
    rows(csv);
    out.close();
    if (!out)
        return "cannot write " + path.string();
    return {};
}

void WritePages(CsvWriter& csv, const std::vector<TGoneRow>& pages) {
    csv.WriteRow({"Id", "Depth", "URI", "Size", "Status", "Type"});
    for (const TGoneRow& row : pages)
        csv.WriteRow({Num(row.Id), Num(row.Depth), row.Url, Num(row.Size), Num(row.Status),
                      row.Type});
}

void WriteObjects(CsvWriter& csv, const TRecordMap& objects) {
    std::vector<const _TObjectType*> byId;
    for (const auto& [url, record] : objects)
        if (record)
            byId.push_back(record.get());
    std::stable_sort(byId.begin(), byId.end(),
                     [](const _TObjectType* a, const _TObjectType* b) { return a->Id < b->Id; });
    csv.WriteRow({"Id", "URI", "Size", "Status", "Type", "Count"});
    for (const _TObjectType* r : byId)
        csv.WriteRow({Num(r->Id), r->Url, Num(r->Size), Num(r->Status), r->ContentType,
                      Num(r->Count)});
}

void WriteLinks(CsvWriter& csv, const std::vector<TMergedPage>& merged) {
    csv.WriteRow({"Page", "Kind", "URI", "Count", "Scope"});
    for (const TMergedPage& page : merged) {
        for (const TMergedLink& link : page.Links) {
            const bool anchor = link.Kind == KIND_PAGE;
            csv.WriteRow({page.Url, anchor ? "anchor" : "object", link.Url, Num(link.Count),
                          anchor ? (link.Internal ? "internal" : "external") : ""});
        }
    }
}

} // namespace

std::string TCrawlReport::Write(const TCrawlReportData& data, const std::string& dir) {
    std::error_code ec;
    const std::filesystem::path root(dir);
    std::filesystem::create_directories(root, ec);
    if (ec)
        return "cannot create " + dir + ": " + ec.message();
    std::string error = WriteFile(root / "pages.csv", [&](CsvWriter& c) { WritePages(c, data.Pages); });
    if (error.empty())
        error = WriteFile(root / "objects.csv", [&](CsvWriter& c) { WriteObjects(c, data.Objects); });
    if (error.empty())
        error = WriteFile(root / "links.csv", [&](CsvWriter& c) { WriteLinks(c, data.Merged); });
    return error;
}

bool TCrawlReport::HasBrokenRows(const TCrawlReportData& data) {
    for (const TGoneRow& row : data.Pages)
        if (row.Status >= 400)
            return true;
    for (const auto& [url, record] : data.Objects)
        if (record && record->Status >= 400)
            return true;
    return false;
}
