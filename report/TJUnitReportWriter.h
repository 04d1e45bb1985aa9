#pragma once
// The JUnit XML report, junit.xml, for CI: a test suite a page, named by its
// address, with a test case for each distinct address it links to or embeds
// (classname: anchor or object). A broken address is a failure (message: the
// reason, type: the status), an unverifiable or unchecked one is skipped.
// The pages nothing links to (the start) are a suite of their own, "start".
// Written page by page; the totals of testsuites come from a first pass.
// A comparison of two crawls (TReport::Changes) is compare.xml: a suite
// "broke", a failure an address that broke since, and a suite "fixed".

#include "TReportWriter.h"

class TJUnitReportWriter : public TReportWriter {
public:
    std::vector<std::string> FileNames(const TReport& report) const override;
    void Write(std::size_t file, const TReport& report, std::ostream& out) const override;
};
