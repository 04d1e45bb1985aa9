// robots.txt: which group applies, which rule decides, and what a crawl does
// with a page it may not fetch.
#include "TCrawlDriver.h"
#include "TRobotsRules.h"
#include "TTestSite.h"

#include <gtest/gtest.h>

namespace {

TAnswer Answer(int status, std::string body, TFailure failure = TFailure::None) {
    TAnswer answer;
    answer.Status = status;
    answer.Body = std::move(body);
    answer.Failure = failure;
    return answer;
}

const char* const kRules = "User-agent: *\n"
                           "Disallow: /private\n"
                           "Allow: /private/open\n"
                           "Disallow: /*.pdf$\n"
                           "\n"
                           "User-agent: OtherBot\n"
                           "User-agent: marrowby  # ours, in any case\n"
                           "Disallow: /mine\n"
                           "Allow: /mine/yes\n";

} // namespace

TEST(Robots, TheGroupOfTheProductTokenElseStarAndTheLongestMatchDecides) {
    const std::string huge = "User-agent: *\nDisallow: /late\n" + std::string(600000, '#');
    const struct {
        const char* Name;
        TAnswer Robots;
        const char* Agent;
        const char* Path;
        bool Allowed;
    } table[] = {
        {"our group: its rule", Answer(200, kRules), "Marrowby", "/mine/x", false},
        {"our group: longer allow", Answer(200, kRules), "Marrowby", "/mine/yes/1", true},
        {"our group only, not *", Answer(200, kRules), "Marrowby", "/private", true},
        {"* for another agent", Answer(200, kRules), "Curious", "/private/x", false},
        {"longest match allows", Answer(200, kRules), "Curious", "/private/open/1", true},
        {"* and $", Answer(200, kRules), "Curious", "/a/b.pdf", false},
        {"$ ties to the end", Answer(200, kRules), "Curious", "/a/b.pdf?x", true},
        {"no rule matches", Answer(200, kRules), "Curious", "/public", true},
        {"empty Disallow", Answer(200, "User-agent: *\nDisallow:\n"), "Marrowby", "/", true},
        {"missing (404)", Answer(404, "Disallow: /"), "Marrowby", "/", true},
        {"server error (503)", Answer(503, ""), "Marrowby", "/anything", false},
        {"unreachable", Answer(-1, "", TFailure::ConnectionRefused), "Marrowby", "/", true},
        {"huge: the first part counts", Answer(200, huge.substr(0, 512 * 1024), TFailure::TooLarge),
         "Marrowby", "/late", false},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(TRobotsRules::FromAnswer(row.Robots, row.Agent).Allows(row.Path), row.Allowed);
    }
    EXPECT_EQ(TRobotsRules::ProductToken("Marrowby/1.2 (+https://x/)"), "Marrowby");
    EXPECT_EQ(TRobotsRules::PathOf("http://h:1/a/b?c=d"), "/a/b?c=d");
    EXPECT_EQ(TRobotsRules::PathOf("http://h:1"), "/");
}

// Through a redirect, as the crawl reads it: the disallowed page is listed
// with its reason and never requested; --ignore-robots fetches it.
TEST(Robots, ADisallowedPageIsListedAndNotFetched) {
    for (const bool obey : {false, true}) {
        SCOPED_TRACE(obey);
        TTestSite site;
        TCannedResponse moved;
        moved.Raw = "HTTP/1.1 301 Moved\r\nLocation: /rules.txt\r\nContent-Length: 0\r\n"
                    "Connection: close\r\n\r\n";
        site.Server.Add("/robots.txt", moved);
        site.AddPage("/rules.txt", "200 OK", "text/plain", "User-agent: *\nDisallow: /b.html\n");
        TCrawlDriver driver;
        TCrawlOptions options;
        options.Robots = obey;
        driver.Crawl->SetOptions(options);
        ASSERT_TRUE(driver.Run(site.Url("/"), 0));
        int asked = 0;
        for (const TReceivedRequest& r : site.Server.Requests())
            asked += r.Target == "/b.html";
        EXPECT_EQ(asked, obey ? 0 : 1);
        EXPECT_EQ(driver.Listener.Reasons.contains(QString::fromStdString(
                      site.Url("/b.html") + ": unverifiable, disallowed by robots.txt")),
                  obey);
    }
}
