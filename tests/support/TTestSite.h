#pragma once
// A small web site on 127.0.0.1 for crawl tests: pages linking to each other,
// back to the first page and to another host; a missing page, a page that is
// not HTML, a page whose answer breaks off; images used on several pages and a
// missing image.

#include "TCannedServer.h"

#include <map>
#include <string>

class TTestSite {
public:
    TTestSite();

    TCannedServer Server{std::chrono::seconds(120)};
    // Another host the first page links to: its /x answers 200.
    TCannedServer Other{std::chrono::seconds(120), "127.0.0.2"};
    std::string Outside; // the address of that link
    std::string Gone; // the address of a page whose answer breaks off
    std::map<std::string, int> BodySize; // by target

    std::string Url(const std::string& target) const { return Server.Url(target); }
    // The first page under the key the crawl gives it.
    std::string Home() const { return Server.Url(""); }

    void AddPage(const std::string& target, const std::string& status, const std::string& type,
                 const std::string& body);
    static TCannedResponse Page(const std::string& status, const std::string& type,
                                const std::string& body);
};
