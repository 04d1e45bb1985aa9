#include "TJUnitReportWriter.h"

#include "TCrawlCompare.h"
#include "TMarkup.h"
#include "TPageLinks.h"
#include "crawl/TRecordStore.h"

#include <ostream>
#include <utility>

namespace {

struct TTotals {
    std::size_t Tests = 0;
    std::size_t Failures = 0;
    std::size_t Skipped = 0;
    void Add(const TAddressAnswer& answer) {
        ++Tests;
        if (!answer.Checked || answer.Verdict == TVerdict::Unverifiable)
            ++Skipped;
        else if (answer.Verdict == TVerdict::Broken)
            ++Failures;
    }
};

void Put(std::ostream& out, const std::string& text) {
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void Attribute(std::string& xml, const char* name, std::string_view value) {
    xml += ' ';
    xml += name;
    xml += "=\"";
    TMarkup::Append(xml, value);
    xml += '"';
}

void Counts(std::string& xml, const TTotals& totals) {
    Attribute(xml, "tests", std::to_string(totals.Tests));
    Attribute(xml, "failures", std::to_string(totals.Failures));
    Attribute(xml, "errors", "0");
    Attribute(xml, "skipped", std::to_string(totals.Skipped));
}

std::string Reason(const TAddressAnswer& answer) {
    if (!answer.Checked)
        return "not checked";
    return answer.Reason.empty() ? std::string(TVerdicts::Name(answer.Verdict))
                                 : std::string(answer.Reason);
}

// One test case: the address, and where the page has it.
void Case(std::string& xml, std::string_view url, std::string_view kind, std::string_view page,
          std::uint32_t line, const TAddressAnswer& answer) {
    xml += "    <testcase";
    Attribute(xml, "name", url);
    Attribute(xml, "classname", kind);
    const bool skipped = !answer.Checked || answer.Verdict == TVerdict::Unverifiable;
    if (!skipped && answer.Verdict != TVerdict::Broken) {
        xml += "/>\n";
        return;
    }
    xml += ">\n      ";
    if (skipped) {
        xml += "<skipped";
        Attribute(xml, "message", Reason(answer));
        xml += "/>";
    } else {
        xml += "<failure";
        Attribute(xml, "message", Reason(answer));
        Attribute(xml, "type", answer.Status > 0 ? std::to_string(answer.Status) : "none");
        xml += '>';
        std::string where;
        if (line > 0)
            where = "line " + std::to_string(line) + " of ";
        where += page;
        where += ": ";
        where += Reason(answer);
        TMarkup::Append(xml, where);
        xml += "</failure>";
    }
    xml += "\n    </testcase>\n";
}

// The page rows no page references: the start, checked on its own.
template <class Visit> void ForEachStart(const TRecordStore& store, Visit visit) {
    for (const TGoneRow& row : store.PageRows()) {
        const TAddressEntry* entry = store.Find(row.Url);
        if (entry != nullptr && entry->Referenced != 0)
            continue;
        visit(row, TPageLinks::AnswerOf(store, row));
    }
}

// A comparison of two crawls: a suite "broke", a failure an address that
// broke since, and a suite "fixed", a passed test an address fixed since.
void WriteChanges(const std::vector<TChangeRow>& changes, std::ostream& out) {
    const auto counts = TCrawlCompare::Count(changes);
    const std::size_t broke = counts[static_cast<std::size_t>(TChange::Broke)];
    const std::size_t fixed = counts[static_cast<std::size_t>(TChange::Fixed)];
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites";
    Attribute(xml, "name", "marrowby compare");
    Counts(xml, {broke + fixed, broke, 0});
    xml += ">\n";
    for (const TChange kind : {TChange::Broke, TChange::Fixed}) {
        const char* name = TCrawlCompare::Name(kind);
        xml += "  <testsuite";
        Attribute(xml, "name", name);
        Counts(xml,
               {counts[static_cast<std::size_t>(kind)], kind == TChange::Broke ? broke : 0, 0});
        xml += ">\n";
        for (const TChangeRow& row : changes) {
            if (row.Change != kind)
                continue;
            xml += "    <testcase";
            Attribute(xml, "name", row.Url);
            Attribute(xml, "classname", name);
            if (kind != TChange::Broke) {
                xml += "/>\n";
                continue;
            }
            xml += ">\n      <failure";
            Attribute(xml, "message", row.NewStatus);
            Attribute(xml, "type", name);
            xml += '>';
            std::string what = "was " + (row.OldStatus.empty() ? "not listed" : row.OldStatus);
            for (const std::string& page : row.Pages)
                what += (&page == &row.Pages.front() ? "; linked from " : " ") + page;
            TMarkup::Append(xml, what);
            xml += "</failure>\n    </testcase>\n";
            if (xml.size() >= 64 * 1024)
                Put(out, std::exchange(xml, {}));
        }
        xml += "  </testsuite>\n";
    }
    Put(out, xml + "</testsuites>\n");
}

} // namespace

std::vector<std::string> TJUnitReportWriter::FileNames(const TReport& report) const {
    return {report.FileName("junit.xml")};
}

void TJUnitReportWriter::Write(std::size_t, const TReport& report, std::ostream& out) const {
    if (report.Changes) {
        WriteChanges(*report.Changes, out);
        return;
    }
    static const TRecordStore none;
    const TRecordStore& store = report.Records != nullptr ? *report.Records : none;
    TTotals all, start;
    ForEachStart(store, [&](const TGoneRow&, const TAddressAnswer& answer) { start.Add(answer); });
    all = start;
    TPageLinks::ForEachPage(store, [&](std::string_view, const std::vector<TPageLink>& links) {
        for (const TPageLink& link : links)
            all.Add(link.Answer);
    });

    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites";
    Attribute(xml, "name", report.Start.empty() ? "marrowby" : "marrowby " + report.Start);
    Counts(xml, all);
    xml += ">\n";
    if (start.Tests > 0) {
        xml += "  <testsuite";
        Attribute(xml, "name", "start");
        Counts(xml, start);
        xml += ">\n";
        ForEachStart(store, [&](const TGoneRow& row, const TAddressAnswer& answer) {
            Case(xml, row.Url, "page", row.Url, 0, answer);
        });
        xml += "  </testsuite>\n";
    }
    Put(out, xml);
    TPageLinks::ForEachPage(store, [&](std::string_view page, const std::vector<TPageLink>& links) {
        TTotals suite;
        for (const TPageLink& link : links)
            suite.Add(link.Answer);
        xml = "  <testsuite";
        Attribute(xml, "name", page);
        Counts(xml, suite);
        xml += ">\n";
        for (const TPageLink& link : links)
            Case(xml, link.Url, link.Kind == KIND_PAGE ? "anchor" : "object", page, link.Line,
                 link.Answer);
        xml += "  </testsuite>\n";
        Put(out, xml);
    });
    Put(out, std::string("</testsuites>\n"));
}
