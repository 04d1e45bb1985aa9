#pragma once
// The HTML report, report.html: one self-contained page for people (no
// outside scripts, styles, fonts or images; it opens offline, on a phone and
// on paper). A summary with the counts by verdict and by kind, charts of the
// verdicts and of the status classes, the broken and unverifiable addresses
// grouped by the page they are on with their lines, the redirects to fix,
// and every table of the report, sortable. Written as the rows are visited;
// every text a page or a server controls is escaped, and only http and https
// addresses become links. A comparison of two crawls (TReport::Changes) is
// compare.html: the counts, then what broke since with the pages linking to
// it, what was fixed, what is new and what is gone.

#include "TReportWriter.h"

class THtmlReportWriter : public TReportWriter {
public:
    std::vector<std::string> FileNames(const TReport& report) const override;
    void Write(std::size_t file, const TReport& report, std::ostream& out) const override;
};
