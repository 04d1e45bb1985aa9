// The object probe against canned responses, blocking and pumping.
#include "CannedResponses.h"
#include "common/Limits.h"
#include "download/TObjectProbe.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

namespace {

const auto* const kShortTimeouts = ::testing::AddGlobalTestEnvironment(new TShortTimeouts);

using namespace std::chrono_literals;

const std::string kHtml = "Content-Type: text/html\r\n";
const _TContent_Struct kNotFound{"Not Found", 404, -1};

// The server sends the headers and then holds the body back for longer than
// the idle timeout: a probe that read the body would count nothing.
TCannedResponse HeadersOnly(std::string raw) {
    TCannedResponse r = Canned(raw);
    r.StallAfter = raw.find("\r\n\r\n") + 4;
    r.Stall = 5s;
    return r;
}

struct TProbeCase {
    const char* Name;
    std::vector<std::pair<std::string, TCannedResponse>> Responses;
    std::string Address; // see Expand
    _TContent_Struct Result;
    std::size_t Requests = 1;
};

const std::vector<TProbeCase>& Cases() {
    static const std::vector<TProbeCase> cases = {
        {"length 999 without reading the body",
         {{"/o", HeadersOnly(Http("200 OK", kHtml + "Content-Length: 999\r\n", Filler(999)))}},
         "http://{host}/o",
         {"text/html", 200, 999}},
        {"length 0",
         {{"/o", Canned(Http("200 OK", "Content-Type: image/gif\r\nContent-Length: 0\r\n"))}},
         "http://{host}/o",
         {"image/gif", 200, 0}},
        {"length 1000 is counted",
         {{"/o", Canned(Http("200 OK", "Content-Type: image/png\r\nContent-Length: 1000\r\n",
                             Filler(1000)))}},
         "http://{host}/o",
         {"image/png", 200, 1000}},
        {"chunked body is counted",
         {{"/o", Canned(Http("200 OK", "Content-Type: text/css\r\nTransfer-Encoding: chunked\r\n",
                             "3\r\nabc\r\n4\r\ndefg\r\n0\r\n\r\n"))}},
         "http://{host}/o",
         {"text/css", 200, 7}},
        {"404 page",
         {{"/o", Canned(Http("404 Not Found", kHtml + "Content-Length: 9\r\n", "not here"))}},
         "http://{host}/o",
         kNotFound},
        {"500 with length 120 without reading the body",
         {{"/o", HeadersOnly(Http("500 Internal Server Error", kHtml + "Content-Length: 120\r\n",
                                  Filler(120)))}},
         "http://{host}/o",
         {"text/html", 500, 120}},
        {"no Content-Type",
         {{"/o", Canned(Http("200 OK", "Content-Length: 3\r\n", "abc"))}},
         "http://{host}/o",
         {"", 200, 3}},
        {"long Content-Type kept verbatim",
         {{"/o", Canned(Http("200 OK",
                             "Content-Type: application/javascript; charset=windows-949\r\n"
                             "Content-Length: 3\r\n",
                             "f()"))}},
         "http://{host}/o",
         {"application/javascript; charset=windows-949", 200, 3}},
        {"connection closed in the body counts what came",
         {{"/o",
           [] {
               std::string raw = Http("200 OK", "Content-Type: image/jpeg\r\n", Filler(5000));
               TCannedResponse r = Canned(raw);
               r.CloseAfter = raw.find("\r\n\r\n") + 4 + 2000;
               return r;
           }()}},
         "http://{host}/o",
         {"image/jpeg", 200, 2000}},
        {"a declared length of any size is the size: the body is not read",
         {{"/o",
           [] {
               std::string raw = Http("200 OK", "Content-Type: image/png\r\nContent-Length: 123456\r\n", "");
               TCannedResponse r = Canned(raw);
               r.StallAfter = raw.size();
               r.Stall = 30s; // a probe that read the body would wait here
               return r;
           }()}},
         "http://{host}/o",
         {"image/png", 200, 123456}},
        {"status that is not a number",
         {{"/o", Canned("HTTP/1.1 abc OK\r\nContent-Length: 2\r\n\r\nhi")}},
         "http://{host}/o",
         kNotFound},
        {"redirect chain gives the final response",
         {{"/a", Canned(Http("302 Found",
                             "Location: /b\r\nContent-Type: text/plain\r\nContent-Length: 0\r\n"))},
          {"/b", Canned(Http("307 Temporary Redirect", "Location: /c\r\nContent-Length: 0\r\n"))},
          {"/c", Canned(Http("200 OK", "Content-Length: 4\r\n", "GIF8"))}},
         "http://{host}/a",
         {"", 200, 4},
         3},
        {"redirect loop",
         {{"/loop", Canned(Http("302 Found", "Location: /loop\r\nContent-Length: 0\r\n"))}},
         "http://{host}/loop",
         kNotFound,
         11},
        {"server that never answers",
         {{"/o",
           [] {
               TCannedResponse r = Canned(Http("200 OK", "Content-Length: 2\r\n", "hi"));
               r.StallAfter = 0;
               r.Stall = 5s;
               return r;
           }()}},
         "http://{host}/o",
         kNotFound},
        {"connection refused", {}, "http://{closed}/o", kNotFound, 0},
        {"https to a server without TLS", {}, "https://{host}/o", kNotFound},
        {"gzip body is counted decoded",
         {{"/o", Canned(Http("200 OK",
                             "Content-Type: image/svg+xml\r\nContent-Encoding: gzip\r\n"
                             "Content-Length: " +
                                 std::to_string(Compress(Filler(5000), 31).size()) + "\r\n",
                             Compress(Filler(5000), 31)))}},
         "http://{host}/o",
         {"image/svg+xml", 200, 5000}},
        {"gzip body that does not decode is a failure",
         {{"/o", Canned(Http("200 OK",
                             "Content-Type: image/svg+xml\r\nContent-Encoding: gzip\r\n"
                             "Content-Length: 5\r\n",
                             "<a b>"))}},
         "http://{host}/o",
         {"Not Found", 404, 0}},
        {"address without a scheme gets http://",
         {{"/o", Canned(Http("200 OK", "Content-Type: image/gif\r\nContent-Length: 2\r\n", "GI"))}},
         "{host}/o",
         {"image/gif", 200, 2}},
    };
    return cases;
}

enum class TRunner { Blocking, Responsive };

class ProbeCaseTest : public ::testing::TestWithParam<std::tuple<TProbeCase, TRunner>> {};

TEST_P(ProbeCaseTest, GivesTheTriple) {
    const auto& [c, runner] = GetParam();
    TCannedServer server(20s);
    ASSERT_TRUE(server.Start());
    const std::string address = ServeCase(server, c.Responses, c.Address);

    const auto start = std::chrono::steady_clock::now();
    const _TContent_Struct result = runner == TRunner::Blocking
                                        ? TObjectProbe::Probe(address)
                                        : TObjectProbe::ProbeResponsive(address);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);

    EXPECT_EQ(result.ContentType, c.Result.ContentType);
    EXPECT_EQ(result.StatusCode, c.Result.StatusCode);
    EXPECT_EQ(result.ContentLength, c.Result.ContentLength);
    EXPECT_EQ(server.Requests().size(), c.Requests);
}

INSTANTIATE_TEST_SUITE_P(
    Responses, ProbeCaseTest,
    ::testing::Combine(::testing::ValuesIn(Cases()),
                       ::testing::Values(TRunner::Blocking, TRunner::Responsive)),
    [](const auto& info) {
        std::string name;
        for (const char ch : std::string(std::get<0>(info.param).Name))
            name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        return name + (std::get<1>(info.param) == TRunner::Blocking ? "_blocking" : "_responsive");
    });

TEST(ProbeResponsiveTest, HandlersRunDuringTheRequestAndCanAbortIt) {
    const TIdleTimeout idle(10s); // so only the abort can end it
    TCannedServer server(20s);
    TCannedResponse silent = Canned(Http("200 OK", "Content-Length: 2\r\n", "hi"));
    silent.StallAfter = 0;
    silent.Stall = 10s;
    server.Add("/o", silent);
    ASSERT_TRUE(server.Start());

    std::atomic<bool> abort{false};
    int ticks = 0;
    QTimer timer;
    timer.setInterval(50);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (++ticks == 5)
            abort = true;
    });
    timer.start();

    const auto start = std::chrono::steady_clock::now();
    const _TContent_Struct result = TObjectProbe::ProbeResponsive(server.Url("/o"), &abort);
    const auto elapsed = std::chrono::steady_clock::now() - start;

    EXPECT_EQ(result, kNotFound);
    EXPECT_GE(ticks, 5);
    EXPECT_LT(elapsed, 1500ms);
}

TEST(ProbeTest, ABodyWithoutEndIsAFailureWithTheBytesCounted) {
    const TIdleTimeout idle(10s); // 64 MiB may pause that long on a loaded machine
    TCannedServer server(60s);
    TCannedResponse drip = Canned(Http("200 OK", "Content-Type: image/gif\r\n"));
    drip.FillerBytes = 1600; // 16 bytes each 100 ms: each piece restarts the idle timer
    drip.Drip = 100ms;
    drip.DripSize = 16;
    server.Add("/drip", drip);
    for (std::size_t size : {kMaxPageBytes, kMaxPageBytes + 1}) {
        TCannedResponse big = Canned(Http("200 OK", "Content-Type: image/gif\r\n"));
        big.FillerBytes = size;
        server.Add("/" + std::to_string(size), big);
    }
    ASSERT_TRUE(server.Start());
    const auto cap = static_cast<std::int32_t>(kMaxPageBytes);
    const struct {
        std::string target;
        _TContent_Struct result;
        std::string reason;
    } table[] = {
        {"/drip", {"Not Found", 404, 0}, "took longer than 1500 ms"}, // the size is checked below
        {"/" + std::to_string(kMaxPageBytes), {"image/gif", 200, cap}, ""},
        {"/" + std::to_string(kMaxPageBytes + 1),
         {"Not Found", 404, cap},
         "the body is larger than 64 MiB"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.target);
        const TTotalTimeout limit(row.target == "/drip" ? 1500ms : 60s);
        std::string reason;
        _TContent_Struct result = TObjectProbe::Probe(server.Url(row.target), nullptr, &reason);
        if (row.target == "/drip") {
            EXPECT_GT(result.ContentLength, 0); // the bytes that came in time
            EXPECT_LT(result.ContentLength, 1600);
            result.ContentLength = 0;
        }
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(reason, row.reason);
    }
}

TEST(ProbeTest, AbortDuringTheBodyGivesNotFound) {
    const TIdleTimeout idle(10s);
    TCannedServer server(20s);
    TCannedResponse slow = Canned(Http("200 OK", "", Filler(5000)));
    slow.Drip = 100ms;
    slow.DripSize = 50;
    server.Add("/o", slow);
    ASSERT_TRUE(server.Start());

    std::atomic<bool> abort{false};
    std::thread closer([&] {
        std::this_thread::sleep_for(300ms);
        abort = true;
    });
    const auto start = std::chrono::steady_clock::now();
    const _TContent_Struct result = TObjectProbe::Probe(server.Url("/o"), &abort);
    closer.join();
    EXPECT_EQ(result, kNotFound);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1300ms);
}

} // namespace
