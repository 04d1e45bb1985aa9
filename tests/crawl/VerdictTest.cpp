// What a server's answer, or the lack of one, becomes on a row: its verdict
// and the reason in words.
#include "TCannedServer.h"
#include "crawl/TAnswerRecord.h"
#include "http/TRequestScheduler.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <map>

namespace {

using namespace std::chrono_literals;

TAnswer Status(int status, std::vector<TRedirectHop> redirects = {},
               std::string final = "http://h/a") {
    TAnswer answer;
    answer.Status = status;
    if (status >= 0)
        answer.StatusText = std::to_string(status);
    answer.Redirects = std::move(redirects);
    answer.FinalAddress = std::move(final);
    return answer;
}

TAnswer Failed(TFailure failure, std::string reason, int status = -1) {
    TAnswer answer = Status(status);
    answer.Failure = failure;
    answer.Reason = std::move(reason);
    return answer;
}

TAnswer With(TAnswer answer, std::string reason, std::string phrase = {}) {
    answer.Reason = std::move(reason);
    answer.StatusPhrase = std::move(phrase);
    return answer;
}

struct TCase {
    const char* Name;
    TAnswer Answer;
    TVerdict Verdict;
    std::string Reason;
};

void Expect(const TCase& c) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(TVerdicts::Name(TAnswerRecord::Verdict(c.Answer)), TVerdicts::Name(c.Verdict));
    EXPECT_EQ(TAnswerRecord::Reason(c.Answer), c.Reason);
    // Every row of the answer says the same.
    std::string object, external;
    TAnswerRecord::Object(c.Answer, object);
    TAnswerRecord::External(c.Answer, external);
    EXPECT_EQ(TAnswerRecord::Page(c.Answer).Reason, c.Reason);
    EXPECT_EQ(object, c.Reason);
    EXPECT_EQ(external, c.Reason);
}

TEST(Verdict, OfEachKindOfAnswerWithItsReason) {
    using V = TVerdict;
    const std::string to = "https://h/new";
    const TCase cases[] = {
        {"200", Status(200), V::Fine, "200 OK"},
        {"204", Status(204), V::Fine, "204 No Content"},
        {"a status without a standard text", With(Status(299), "", "Custom Words"), V::Fine,
         "299 Custom Words"},
        {"a control character in the server's words", With(Status(299), "", "A\x1b[2JB"), V::Fine,
         "299 A?[2JB"},
        {"a standard text wins", With(Status(404), "", "Nope"), V::Broken, "404 Not Found"},
        {"400", Status(400), V::Broken, "400 Bad Request"},
        {"404", Status(404), V::Broken, "404 Not Found"},
        {"410", Status(410), V::Broken, "410 Gone"},
        {"401", Status(401), V::Unverifiable, "401 Unauthorized"},
        {"403", Status(403), V::Unverifiable, "403 Forbidden"},
        {"429 after the retries", Failed(TFailure::RateLimited, "rate limited", 429),
         V::Unverifiable, "429 Too Many Requests, rate limited"},
        {"Retry-After beyond the limit", Failed(TFailure::RateLimited, "rate limited", 503),
         V::Unverifiable, "503 Service Unavailable, rate limited"},
        {"500", Status(500), V::Unverifiable, "500 Internal Server Error"},
        {"503 after the retries", With(Status(503), "after 2 retries"), V::Unverifiable,
         "503 Service Unavailable, after 2 retries"},
        {"301", Status(200, {{301, to}}, to), V::Redirected, "301 Moved Permanently to " + to},
        {"308", Status(200, {{308, to}}, to), V::Redirected, "308 Permanent Redirect to " + to},
        {"302", Status(200, {{302, to}}, to), V::Fine, "302 Found to " + to},
        {"307", Status(200, {{307, to}}, to), V::Fine, "307 Temporary Redirect to " + to},
        {"302, then 301: the permanent one to fix", Status(200, {{302, "x"}, {301, to}}, to),
         V::Redirected, "301 Moved Permanently to " + to},
        {"a redirect to a login", Status(200, {{301, "x"}}, "https://u:p@h/new"), V::Redirected,
         "301 Moved Permanently to " + to},
        {"301 to a missing page", Status(404, {{301, to}}, to), V::Broken,
         "404 Not Found at " + to},
        {"redirect loop", Failed(TFailure::RedirectLoop, "redirect loop", 301), V::Broken,
         "redirect loop"},
        {"too many redirects", Failed(TFailure::RedirectLoop, "more than 10 redirects", 302),
         V::Broken, "more than 10 redirects"},
        {"refused", Failed(TFailure::ConnectionRefused, "connection refused"), V::Broken,
         "connection refused"},
        {"host not found", Failed(TFailure::HostNotFound, "host not found"), V::Broken,
         "host not found"},
        {"invalid address", Failed(TFailure::InvalidAddress, "invalid address"), V::Broken,
         "invalid address"},
        {"timed out", Failed(TFailure::TimedOut, "timed out after 60 s, after 2 retries"),
         V::Unverifiable, "timed out after 60 s, after 2 retries"},
        {"TLS", Failed(TFailure::Tls, "TLS: certificate has expired"), V::Unverifiable,
         "TLS: certificate has expired"},
        {"cut short", Failed(TFailure::CutShort, "connection reset", 200), V::Unverifiable,
         "200 OK, connection reset"},
        {"no answer", Status(-1), V::Unverifiable, "no response"},
    };
    for (const TCase& c : cases)
        Expect(c);
    TAnswer garbled = Status(-1);
    garbled.StatusText = "2x0";
    Expect(
        {"a garbled status line", garbled, V::Unverifiable, "the status \"2x0\" is not a number"});
    // The Status column keeps the 404 of a failure without a status; the
    // verdict and the reason say what happened.
    std::string reason;
    EXPECT_EQ(
        TAnswerRecord::Object(Failed(TFailure::ConnectionRefused, "connection refused"), reason)
            .StatusCode,
        404);
}

// The scheduler's own answers from loopback servers, as the crawl gets them.
TEST(Verdict, OfTheSchedulersAnswers) {
    TCannedServer server(30s);
    ASSERT_TRUE(server.Start());
    const auto reply = [](const std::string& head) {
        TCannedResponse r;
        r.Raw = "HTTP/1.1 " + head + "\r\nContent-Length: 0\r\n\r\n";
        return r;
    };
    server.Add("/self", reply("301 Moved Permanently\r\nLocation: /self"));
    server.Add("/moved", reply("301 Moved Permanently\r\nLocation: /here"));
    server.Add("/here", reply("200 OK"));
    server.Add("/busy", reply("503 Service Unavailable\r\nRetry-After: 3600"));
    server.Add("/down", reply("502 Bad Gateway"));
    server.Add("/odd", reply("599 Odd Words Here"));
    const std::string refused = "http://127.0.0.1:" + std::to_string(TCannedServer::ClosedPort());
    const TCase cases[] = {
        {"loop", Status(0, {}, server.Url("/self")), TVerdict::Broken, "redirect loop"},
        {"moved", Status(0, {}, server.Url("/moved")), TVerdict::Redirected,
         "301 Moved Permanently to " + server.Url("/here")},
        {"Retry-After beyond the limit", Status(0, {}, server.Url("/busy")), TVerdict::Unverifiable,
         "503 Service Unavailable, rate limited"},
        {"retried", Status(0, {}, server.Url("/down")), TVerdict::Unverifiable,
         "502 Bad Gateway, after 2 retries"},
        {"unknown status", Status(0, {}, server.Url("/odd")), TVerdict::Unverifiable,
         "599 Odd Words Here"},
        {"refused", Status(0, {}, refused + "/"), TVerdict::Broken, "connection refused"},
        {"invalid", Status(0, {}, "gopherx://127.0.0.1/"), TVerdict::Broken, "invalid address"},
    };
    TSchedulerOptions options;
    options.RetryWaits = {10ms, 20ms};
    options.NoProxy = "127.0.0.0/8";
    std::map<std::uint64_t, TAnswer> answers;
    TRequestScheduler scheduler([&](TAnswer a) { answers.emplace(a.Id, std::move(a)); }, options);
    std::uint64_t id = 0;
    for (const TCase& c : cases) {
        TRequest request = TRequest::Probe(++id, c.Answer.FinalAddress);
        request.ConnectTimeout = 3s;
        request.IdleTimeout = 3s;
        scheduler.Submit(request);
    }
    QElapsedTimer clock;
    clock.start();
    while (answers.size() < id && clock.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_EQ(answers.size(), id);
    id = 0;
    for (const TCase& c : cases)
        Expect({c.Name, answers[++id], c.Verdict, c.Reason});
}

} // namespace
