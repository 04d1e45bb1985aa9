#include "TCompareCommand.h"

#include "crawl/TRecordStore.h"
#include "report/TCrawlCompare.h"
#include "report/TCrawlReport.h"
#include "store/TCrawlFile.h"

#include <ostream>

namespace {

// Text a page controls, as a terminal may show it: no control characters.
std::string Shown(const std::string& text) {
    std::string shown = text;
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return shown;
}

std::string Line(const TChangeRow& row) {
    std::string line = std::string(TCrawlCompare::Name(row.Change)) + " " + Shown(row.Url) + " (" +
                       Shown(row.OldStatus.empty() ? "not listed" : row.OldStatus) + " -> " +
                       Shown(row.NewStatus) + ")";
    if (row.Pages.empty())
        return line;
    line += " on";
    for (std::size_t i = 0; i < row.Pages.size() && i < TCompareCommand::MaxPages; ++i)
        line += " " + Shown(row.Pages[i]);
    if (row.Pages.size() > TCompareCommand::MaxPages)
        line += " and " + std::to_string(row.Pages.size() - TCompareCommand::MaxPages) + " more";
    return line;
}

} // namespace

int TCompareCommand::Run(const std::string& past, const std::string& now,
                         const std::string& reportDir, const std::vector<std::string>& formats,
                         std::ostream& out, std::ostream& err) {
    const std::string dir = reportDir.empty() ? "." : reportDir;
    TRecordStore before, after;
    std::string error = TCrawlFile::LoadRecords(past, before);
    if (error.empty())
        error = TCrawlFile::LoadRecords(now, after);
    if (error.empty())
        error = TCrawlReport::CheckFolder(dir);
    if (!error.empty()) {
        err << "marrowby: " << Shown(error) << '\n';
        return ExitFailed;
    }
    const std::vector<TChangeRow> changes = TCrawlCompare::Of(before, after);
    TReport report = TCrawlCompare::Report(changes, past, now);
    if (!after.PageRows().empty())
        report.Start = after.PageRows().front().Url; // the first page is the start
    if (const std::string failed = TCrawlReport::WriteSet(report, dir, formats); !failed.empty()) {
        err << "marrowby: " << Shown(failed) << '\n';
        return ExitFailed;
    }
    const auto counts = TCrawlCompare::Count(changes);
    const auto count = [&counts](TChange change) {
        return std::to_string(counts[static_cast<std::size_t>(change)]) + " " +
               TCrawlCompare::Name(change);
    };
    out << count(TChange::Broke) << ", " << count(TChange::Fixed) << ", " << count(TChange::New)
        << ", " << count(TChange::Gone) << '\n';
    std::size_t shown = 0, more = 0;
    for (const TChangeRow& row : changes) {
        if (row.Change != TChange::Broke && row.Change != TChange::Fixed)
            continue;
        if (shown < MaxLines) {
            out << Line(row) << '\n';
            ++shown;
        } else {
            ++more;
        }
    }
    std::string files;
    for (const std::string& format : formats)
        for (const std::string& name : TCrawlReport::Writer(format)->FileNames(report))
            if (files.find(name) == std::string::npos) // a format named twice
                files += (files.empty() ? "" : ", ") + name;
    if (more > 0)
        out << "and " << more << " more in " << files.substr(0, files.find(',')) << '\n';
    out.flush();
    err << "Changes written to " << Shown(dir) << ": " << files << '\n';
    return counts[static_cast<std::size_t>(TChange::Broke)] > 0 ? ExitBroken : ExitClean;
}
