#pragma once
// The one media-type test of the crawl: is this Content-Type an HTML page?

#include <string_view>

// True when the type and subtype are "text/html", compared without regard to
// letter case, with surrounding blanks and any parameters ignored.
bool IsHtmlContentType(std::string_view contentType);
