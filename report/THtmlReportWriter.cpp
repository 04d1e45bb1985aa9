#include "THtmlReportWriter.h"

#include "TCrawlCompare.h"
#include "TCrawlReport.h"
#include "TMarkup.h"
#include "TPageLinks.h"
#include "crawl/TRecordStore.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <algorithm>
#include <array>
#include <ostream>

namespace {

// The style and the script go into the page as they are here; the page's
// Content-Security-Policy allows them by their hashes and nothing else.
constexpr std::string_view Style = R"(
body{font:15px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,sans-serif;color:#1b1b1b;background:#fff;margin:0 auto;max-width:75rem;padding:0 1rem 2rem}
h1{font-size:1.5rem;margin:1rem 0 .25rem}
h2{font-size:1.2rem;margin:1.75rem 0 .5rem;padding-bottom:.2rem;border-bottom:2px solid #ddd}
h3{font-size:1rem;margin:1rem 0 .25rem;overflow-wrap:anywhere}
a{color:#0b57d0}
.facts{display:grid;grid-template-columns:max-content 1fr;gap:.15rem 1rem;margin:0}
.facts dt{font-weight:600}
.facts dd{margin:0;overflow-wrap:anywhere}
.counts{display:flex;flex-wrap:wrap;gap:.5rem;margin:.75rem 0}
.count{margin:0;padding:.4rem .8rem;border:1px solid #ccc;border-left-width:.4rem;border-radius:.3rem;min-width:6.5rem}
.count b{display:block;font-size:1.5rem;line-height:1.2}
.v-broken{border-left-color:#b3261e}
.v-unverifiable{border-left-color:#b06000}
.v-redirected{border-left-color:#1a5fb4}
.v-fine{border-left-color:#2e7d32}
tr.v-broken>td:first-child{box-shadow:inset .3rem 0 #b3261e}
tr.v-unverifiable>td:first-child{box-shadow:inset .3rem 0 #b06000}
tr.v-redirected>td:first-child{box-shadow:inset .3rem 0 #1a5fb4}
.charts{display:grid;grid-template-columns:repeat(auto-fit,minmax(17rem,1fr));gap:1rem;margin-top:1rem}
figure{margin:0}
figcaption{font-weight:600;margin-bottom:.25rem}
svg{width:100%;height:auto;max-width:30rem}
svg text{font-size:13px;fill:#1b1b1b}
.wrap{overflow-x:auto}
table{border-collapse:collapse;width:100%;font-size:.9rem}
th,td{padding:.3rem .5rem;border-bottom:1px solid #e0e0e0;text-align:left;vertical-align:top}
th{background:#f4f4f4;white-space:nowrap}
.n{text-align:right;font-variant-numeric:tabular-nums}
td.u{overflow-wrap:anywhere;min-width:12rem}
table.sortable th{cursor:pointer}
th[aria-sort=ascending]::after{content:" \25B2"}
th[aria-sort=descending]::after{content:" \25BC"}
details{margin:.5rem 0}
summary{cursor:pointer;font-weight:600;padding:.25rem 0}
.none{color:#555}
@media (max-width:40rem){body{font-size:14px;padding:0 .5rem 1rem}.facts{grid-template-columns:1fr}.facts dd{margin-bottom:.35rem}th,td{padding:.25rem .3rem}
#problems thead{display:none}
#problems tr{display:block;padding:.35rem 0 .35rem .7rem;border-bottom:1px solid #e0e0e0}
#problems tr.v-broken{box-shadow:inset .3rem 0 #b3261e}
#problems tr.v-unverifiable{box-shadow:inset .3rem 0 #b06000}
#problems td{display:inline;border:0;padding:0 .3rem 0 0;box-shadow:none}
#problems td:nth-child(2),#problems td:nth-child(5){display:block;text-align:left}
#problems td:nth-child(1):not(:empty)::before{content:"line "}
#problems td:nth-child(3):not(:empty)::before{content:"status "}}
@media print{body{max-width:none;font-size:10pt;padding:0}a{color:inherit;text-decoration:none}thead{display:table-header-group}tr{break-inside:avoid}h2,h3{break-after:avoid}.charts{grid-template-columns:1fr 1fr}}
)";

constexpr std::string_view Script = R"(
(function () {
  document.querySelectorAll('details[data-table]').forEach(function (d) {
    var n = d.querySelector('tbody').rows.length;
    d.querySelector('summary .rows').textContent = '(' + n + (n === 1 ? ' row)' : ' rows)');
  });
  document.querySelectorAll('table.sortable th').forEach(function (th) {
    var sort = function () {
      var table = th.closest('table'), body = table.tBodies[0], column = th.cellIndex;
      var numeric = th.classList.contains('n');
      var order = th.getAttribute('aria-sort') === 'ascending' ? -1 : 1;
      table.querySelectorAll('th').forEach(function (h) { h.removeAttribute('aria-sort'); });
      th.setAttribute('aria-sort', order > 0 ? 'ascending' : 'descending');
      var key = function (row) {
        var text = row.cells[column] ? row.cells[column].textContent : '';
        return numeric ? Number(text) || 0 : text;
      };
      var rows = Array.prototype.map.call(body.rows, function (row) { return [key(row), row]; });
      rows.sort(function (a, b) { return (a[0] < b[0] ? -1 : a[0] > b[0] ? 1 : 0) * order; });
      var sorted = document.createDocumentFragment();
      rows.forEach(function (pair) { sorted.appendChild(pair[1]); });
      body.appendChild(sorted);
    };
    th.tabIndex = 0;
    th.title = 'Sort by ' + th.textContent;
    th.addEventListener('click', sort);
    th.addEventListener('keydown', function (e) {
      if (e.key === 'Enter' || e.key === ' ') { e.preventDefault(); sort(); }
    });
  });
  window.addEventListener('beforeprint', function () {
    document.querySelectorAll('details').forEach(function (d) { d.open = true; });
  });
})();
)";

std::string Hash(std::string_view text) {
    return QCryptographicHash::hash(QByteArray(text.data(), static_cast<qsizetype>(text.size())),
                                    QCryptographicHash::Sha256)
        .toBase64()
        .toStdString();
}

const std::string& Policy() {
    static const std::string policy = "default-src 'none'; img-src data:; style-src 'sha256-" +
                                      Hash(Style) + "'; script-src 'sha256-" + Hash(Script) + "'";
    return policy;
}

// The page as it is made, handed to the stream a piece at a time.
class TPage {
public:
    explicit TPage(std::ostream& out) : FOut(out) {}
    TPage& operator<<(std::string_view markup) {
        FText += markup;
        return Spill();
    }
    // Text that a page or a server may control.
    TPage& Text(std::string_view text) {
        TMarkup::Append(FText, text);
        return Spill();
    }
    TPage& Number(long long n) { return *this << std::to_string(n); }
    // An address: a link when it is an http or https one, else text.
    TPage& Address(std::string_view url) {
        if (!TMarkup::IsWebAddress(url))
            return Text(url);
        *this << "<a href=\"";
        Text(url) << "\" rel=\"noreferrer\">";
        return Text(url) << "</a>";
    }
    void Flush() {
        FOut.write(FText.data(), static_cast<std::streamsize>(FText.size()));
        FText.clear();
    }

private:
    TPage& Spill() {
        if (FText.size() >= 64 * 1024)
            Flush();
        return *this;
    }
    std::ostream& FOut;
    std::string FText;
};

std::string_view Title(std::string_view table) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 3> titles{{
        {"pages", "Pages"},
        {"objects", "Objects"},
        {"external", "Links to other sites"},
    }};
    for (const auto& [name, title] : titles)
        if (name == table)
            return title;
    return table;
}

constexpr std::array<const char*, TVerdicts::Count> Colours{"#2e7d32", "#1a5fb4", "#b06000",
                                                            "#b3261e"};

struct TBar {
    std::string Label;
    std::size_t Value;
    const char* Colour;
};

// A bar chart that reads without colour: each bar has its label and value.
void Chart(TPage& page, const char* caption, const char* id, const std::vector<TBar>& bars) {
    std::size_t most = 1;
    for (const TBar& bar : bars)
        most = std::max(most, bar.Value);
    constexpr int LabelWidth = 110, BarWidth = 200, RowHeight = 28;
    std::string label = caption;
    for (const TBar& bar : bars)
        label +=
            (&bar == &bars.front() ? ": " : ", ") + bar.Label + " " + std::to_string(bar.Value);
    page << "<figure id=\"" << id << "\"><figcaption>" << caption << "</figcaption>"
         << "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 "
         << std::to_string(LabelWidth + BarWidth + 70) << " "
         << std::to_string(RowHeight * static_cast<int>(bars.size()))
         << "\" role=\"img\" aria-label=\"";
    page.Text(label) << "\">";
    int y = 0;
    for (const TBar& bar : bars) {
        const auto width = static_cast<int>(bar.Value * BarWidth / most);
        const int shown = bar.Value > 0 ? std::max(width, 2) : 0;
        page << "<text x=\"0\" y=\"" << std::to_string(y + 18) << "\">" << bar.Label << "</text>";
        if (shown > 0)
            page << "<rect x=\"" << std::to_string(LabelWidth) << "\" y=\"" << std::to_string(y + 5)
                 << "\" width=\"" << std::to_string(shown) << "\" height=\"18\" fill=\""
                 << bar.Colour << "\"/>";
        page << "<text x=\"" << std::to_string(LabelWidth + shown + 6) << "\" y=\""
             << std::to_string(y + 18) << "\">" << std::to_string(bar.Value) << "</text>";
        y += RowHeight;
    }
    page << "</svg></figure>";
}

// The status classes of every answer: pages, objects and links to other sites.
std::vector<TBar> StatusClasses(const TRecordStore& store) {
    std::array<std::size_t, 5> counts{};
    const auto count = [&counts](std::int32_t status) {
        ++counts[status >= 200 && status < 600 ? static_cast<std::size_t>(status / 100 - 2) : 4];
    };
    for (const TGoneRow& row : store.PageRows())
        count(row.Status);
    for (const _TObjectType* record : store.ObjectsById())
        count(record->Status);
    for (const TExternalRow& row : store.ExternalRows())
        count(row.Status);
    return {{"2xx success", counts[0], "#2e7d32"},
            {"3xx redirect", counts[1], "#1a5fb4"},
            {"4xx client", counts[2], "#b3261e"},
            {"5xx server", counts[3], "#b06000"},
            {"no status", counts[4], "#6b6b6b"}};
}

void Summary(TPage& page, const TReport& report, const TRecordStore& store) {
    page << "<section id=\"summary\"><h2>Summary</h2><dl class=\"facts\">";
    page << "<dt>Start address</dt><dd>";
    if (report.Start.empty())
        page << "unknown";
    else
        page.Address(report.Start);
    page << "</dd><dt>Started</dt><dd>";
    page.Text(report.Started.empty() ? "unknown" : report.Started);
    page << "</dd><dt>Finished</dt><dd>";
    page.Text(report.Finished.empty() ? "unknown" : report.Finished);
    page << "</dd>";
    if (!report.Options.empty()) {
        page << "<dt>Options</dt><dd>";
        for (const auto& [name, value] : report.Options) {
            if (&name != &report.Options.front().first)
                page << ", ";
            page.Text(name) << " ";
            page.Text(value);
        }
        page << "</dd>";
    }
    page << "</dl>";

    const std::array<std::size_t, TVerdicts::Count> verdicts = TCrawlReport::CountVerdicts(store);
    page << "<div class=\"counts\" id=\"verdicts\">";
    std::vector<TBar> bars;
    for (int v = TVerdicts::Count - 1; v >= 0; --v) {
        const std::string name(TVerdicts::Name(static_cast<TVerdict>(v)));
        const std::size_t n = verdicts[static_cast<std::size_t>(v)];
        page << "<p class=\"count v-" << name << "\" id=\"count-" << name << "\"><b>"
             << std::to_string(n) << "</b> " << name << "</p>";
        bars.push_back({name, n, Colours[static_cast<std::size_t>(v)]});
    }
    page << "</div><div class=\"counts\" id=\"kinds\">";
    const std::pair<const char*, std::size_t> kinds[] = {
        {"pages", store.PageRows().size()},
        {"objects", store.ObjectCount()},
        {"external", store.ExternalRows().size()},
    };
    for (const auto& [kind, n] : kinds)
        page << "<p class=\"count\" id=\"count-" << kind << "\"><b>" << std::to_string(n) << "</b> "
             << (kind == std::string_view("external") ? "links to other sites" : kind) << "</p>";
    page << "</div><div class=\"charts\">";
    Chart(page, "Addresses by verdict", "chart-verdicts", bars);
    Chart(page, "Answers by status", "chart-statuses", StatusClasses(store));
    page << "</div></section>\n";
}

bool NeedsAction(const TAddressAnswer& answer) {
    return answer.Checked &&
           (answer.Verdict == TVerdict::Broken || answer.Verdict == TVerdict::Unverifiable);
}

void ProblemHeading(TPage& page) {
    page << "<div class=\"wrap\"><table><thead><tr><th class=\"n\">Line</th><th>Address</th>"
            "<th class=\"n\">Status</th><th>Verdict</th><th>Reason</th></tr></thead><tbody>\n";
}

void Problem(TPage& page, std::uint32_t line, std::string_view url, const TAddressAnswer& answer) {
    const std::string_view verdict = TVerdicts::Name(answer.Verdict);
    page << "<tr class=\"v-" << verdict << "\"><td class=\"n\">";
    if (line > 0)
        page.Number(line);
    page << "</td><td class=\"u\">";
    page.Address(url) << "</td><td class=\"n\">";
    if (answer.Status > 0)
        page.Number(answer.Status);
    page << "</td><td>" << verdict << "</td><td>";
    page.Text(answer.Reason) << "</td></tr>\n";
}

// The broken and unverifiable addresses, under each page they are on; the
// pages no page links to (the start) first.
void Problems(TPage& page, const TRecordStore& store) {
    page << "<section id=\"problems\"><h2>Broken and unverifiable addresses</h2>\n";
    bool any = false;
    for (const TGoneRow& row : store.PageRows()) {
        const TAddressEntry* entry = store.Find(row.Url);
        const TAddressAnswer answer = TPageLinks::AnswerOf(store, row);
        if ((entry != nullptr && entry->Referenced != 0) || !NeedsAction(answer))
            continue;
        if (!any)
            ProblemHeading(page << "<section class=\"page\"><h3>Not linked from any page</h3>");
        any = true;
        Problem(page, 0, row.Url, answer);
    }
    if (any)
        page << "</tbody></table></div></section>\n";
    TPageLinks::ForEachPage(store, [&](std::string_view url, const std::vector<TPageLink>& links) {
        bool here = false;
        for (const TPageLink& link : links) {
            if (!NeedsAction(link.Answer))
                continue;
            if (!here) {
                page << "<section class=\"page\"><h3>On ";
                page.Address(url) << "</h3>";
                ProblemHeading(page);
            }
            here = any = true;
            Problem(page, link.Line, link.Url, link.Answer);
        }
        if (here)
            page << "</tbody></table></div></section>\n";
    });
    if (!any)
        page << "<p class=\"none\">None: every address checked is fine or redirected.</p>";
    page << "</section>\n";
}

// A table of the report, its heading written with its first row; false when
// it has none.
bool Table(TPage& page, const TReportTable& table, bool sortable) {
    std::size_t verdict = table.Fields.size();
    for (std::size_t i = 0; i < table.Fields.size(); ++i)
        if (table.Fields[i].Name == std::string_view("Verdict"))
            verdict = i;
    bool any = false;
    table.ForEachRow([&](const TReportTable::TCells& cells) {
        if (!any) {
            page << (sortable ? "<div class=\"wrap\"><table class=\"sortable\">"
                              : "<div class=\"wrap\"><table>")
                 << "<thead><tr>";
            for (const TReportField& field : table.Fields)
                (page << (field.Numeric ? "<th class=\"n\">" : "<th>")).Text(field.Name) << "</th>";
            page << "</tr></thead><tbody>\n";
            any = true;
        }
        page << "<tr";
        if (verdict < cells.size())
            if (const std::optional<TVerdict> v = TVerdicts::FromName(cells[verdict]))
                page << " class=\"v-" << TVerdicts::Name(*v) << "\"";
        page << ">";
        for (std::size_t i = 0; i < cells.size() && i < table.Fields.size(); ++i) {
            const bool address = TMarkup::IsWebAddress(cells[i]);
            page << (table.Fields[i].Numeric ? "<td class=\"n\">"
                     : address               ? "<td class=\"u\">"
                                             : "<td>");
            page.Address(cells[i]) << "</td>";
        }
        page << "</tr>\n";
    });
    if (any)
        page << "</tbody></table></div>";
    return any;
}

const TReportTable* Named(const TReport& report, std::string_view name) {
    for (const TReportTable& table : report.Tables)
        if (table.Name == name)
            return &table;
    return nullptr;
}

// The head of the page, and where its body begins.
void Head(TPage& page, std::string_view title, std::string_view of) {
    page << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
            "<meta http-equiv=\"Content-Security-Policy\" content=\""
         << Policy() << "\">\n<meta name=\"referrer\" content=\"no-referrer\">\n<title>" << title;
    if (!of.empty())
        page.Text(" of " + std::string(of));
    page << "</title>\n<style>" << Style << "</style>\n</head>\n<body>\n<header><h1>" << title
         << "</h1></header>\n";
}

std::string_view Option(const TReport& report, std::string_view name) {
    for (const auto& [key, value] : report.Options)
        if (key == name)
            return value;
    return {};
}

// A comparison of two crawls: the counts, then what broke since with the
// pages that link to it, what was fixed, what is new and what is gone.
void ChangesPage(TPage& page, const TReport& report) {
    const std::vector<TChangeRow>& changes = *report.Changes;
    Head(page, "What changed", {});
    page << "<section id=\"summary\"><h2>Summary</h2><dl class=\"facts\"><dt>Old crawl</dt><dd>";
    page.Text(Option(report, "old")) << "</dd><dt>New crawl</dt><dd>";
    page.Text(Option(report, "new")) << "</dd></dl><div class=\"counts\" id=\"changes\">";
    static constexpr std::array<std::string_view, TCrawlCompare::Kinds> Classes{" v-broken",
                                                                                " v-fine", "", ""};
    static constexpr std::array<std::string_view, TCrawlCompare::Kinds> Titles{
        "Broke since", "Fixed", "New", "Gone"};
    const auto counts = TCrawlCompare::Count(changes);
    for (std::size_t i = 0; i < counts.size(); ++i) {
        const std::string_view name = TCrawlCompare::Name(static_cast<TChange>(i));
        page << "<p class=\"count" << Classes[i] << "\" id=\"count-" << name << "\"><b>"
             << std::to_string(counts[i]) << "</b> " << name << "</p>";
    }
    page << "</div></section>\n";
    for (std::size_t i = 0; i < counts.size(); ++i) {
        const auto kind = static_cast<TChange>(i);
        page << "<section id=\"" << TCrawlCompare::Name(kind) << "\"><h2>" << Titles[i]
             << "</h2>\n";
        if (counts[i] == 0) {
            page << "<p class=\"none\">None.</p></section>\n";
            continue;
        }
        page << "<div class=\"wrap\"><table><thead><tr><th>Address</th><th>"
             << (kind == TChange::Gone ? "Was linked from" : "Linked from")
             << "</th><th>Old status</th><th>New status</th></tr></thead><tbody>\n";
        for (const TChangeRow& row : changes) {
            if (row.Change != kind)
                continue;
            page << "<tr";
            if (!Classes[i].empty())
                page << " class=\"" << Classes[i].substr(1) << "\"";
            page << "><td class=\"u\">";
            page.Address(row.Url) << "</td><td class=\"u\">";
            for (const std::string& used : row.Pages) {
                if (&used != &row.Pages.front())
                    page << "<br>";
                page.Address(used);
            }
            page << "</td><td>";
            page.Text(row.OldStatus) << "</td><td>";
            page.Text(row.NewStatus) << "</td></tr>\n";
        }
        page << "</tbody></table></div></section>\n";
    }
    page << "</body></html>\n";
}

} // namespace

std::vector<std::string> THtmlReportWriter::FileNames(const TReport& report) const {
    return {report.FileName("report.html")};
}

void THtmlReportWriter::Write(std::size_t, const TReport& report, std::ostream& out) const {
    static const TRecordStore none;
    const TRecordStore& store = report.Records != nullptr ? *report.Records : none;
    TPage page(out);
    if (report.Changes) {
        ChangesPage(page, report);
        page.Flush();
        return;
    }
    Head(page, "Link report", report.Start);
    Summary(page, report, store);
    Problems(page, store);

    // The redirects to fix, each with the address to write instead: the
    // report's "redirects" table (TReportColumns::Redirects) when it has one.
    page << "<section id=\"redirects\"><h2>Redirects to fix</h2>\n";
    const TReportTable* redirects = Named(report, "redirects");
    if (redirects == nullptr || !Table(page, *redirects, true))
        page << "<p class=\"none\">None.</p>";
    page << "</section>\n<section id=\"tables\"><h2>Every address</h2>\n";
    // The tables of addresses, a row an address; the links and their uses
    // are under each page above, as far as they need doing something about.
    for (const TReportTable& table : report.Tables) {
        if (!table.UsesOf)
            continue;
        page << "<details id=\"table-" << table.Name << "\" data-table><summary>";
        page.Text(Title(table.Name)) << " <span class=\"rows\"></span></summary>";
        if (!Table(page, table, true))
            page << "<div class=\"wrap\"><table><tbody></tbody></table></div><p "
                    "class=\"none\">None.</p>";
        page << "</details>\n";
    }
    page << "</section>\n<script>" << Script << "</script>\n</body></html>\n";
    page.Flush();
}
