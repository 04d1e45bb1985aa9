// The page download thread against canned responses: the messages it posts,
// in order, and the values it leaves behind.
#include "CannedResponses.h"
#include "TMessageRecorder.h"
#include "common/Messages.h"
#include "download/HttpRules.h"
#include "download/THttpContentDown.h"

#include <gtest/gtest.h>

#include <brotli/encode.h>
#include <zstd.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace {

const auto* const kShortTimeouts = ::testing::AddGlobalTestEnvironment(new TShortTimeouts);

using namespace std::chrono_literals;
using Entries = std::vector<std::pair<std::string, TCannedResponse>>;

struct TDownloadResult {
    std::vector<TRecordedMessage> Messages;
    std::uintptr_t Self = 0;
    std::string Url;
    std::string Content;
    _TContent_Struct Header;
    std::string Reason;
    std::chrono::milliseconds Elapsed{};
};

bool IsFinal(const TRecordedMessage& m) {
    return m.Msg == WM_DOWNLOAD_END || m.Msg == WM_DOWNLOAD_FAILED;
}

// Runs one download to its end; during runs once WM_DOWNLOAD_OPENED is in.
TDownloadResult RunDownload(const std::string& address,
                            const std::function<void(THttpContentDown&)>& during = {}) {
    TMessageRecorder window;
    const HWND handle = TWindowHandle::Create(&window);
    auto down = std::make_unique<THttpContentDown>(address, handle);
    TDownloadResult result;
    result.Self = reinterpret_cast<std::uintptr_t>(down.get());

    const auto start = std::chrono::steady_clock::now();
    down->Resume();
    if (during) {
        window.PumpUntil([&] { return window.Messages.size() >= 2; }, 5s);
        during(*down);
    }
    const auto hasFinal = [&] {
        return std::any_of(window.Messages.begin(), window.Messages.end(), IsFinal);
    };
    window.PumpUntil(hasFinal, 10s);
    result.Elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    down->WaitFor();
    window.PumpUntil([] { return false; }, 20ms); // nothing may follow the final message
    handle->Detach();

    result.Messages = window.Messages;
    result.Url = down->GetUrl();
    result.Content = down->GetContent();
    result.Header = down->GetHeaderInfo();
    result.Reason = down->GetFailureReason();
    return result;
}

std::vector<TRecordedMessage> Expected(const TDownloadResult& r, bool ok) {
    return {{WM_DOWNLOAD_START, 0},
            {WM_DOWNLOAD_OPENED, 0},
            {ok ? WM_DOWNLOAD_END : WM_DOWNLOAD_FAILED, r.Self}};
}

struct TDownloadCase {
    const char* Name;
    Entries Responses;
    std::string Address; // see Expand
    bool Ok;
    _TContent_Struct Header; // checked when Ok
    std::string Content;     // checked when Ok
    std::size_t Requests = 1;
    const char* Reason = nullptr; // checked when given
};

const std::string kHtml = "Content-Type: text/html\r\n";
const std::string kLongType = "Text/HTML; charset=windows-949; profile=extra-long";
const std::string kLong = "Content-Type: " + kLongType + "\r\n";
TCannedResponse CutAfterBody(std::string raw, std::size_t bodyBytes) {
    TCannedResponse r = Canned(raw);
    r.CloseAfter = raw.find("\r\n\r\n") + 4 + bodyBytes;
    return r;
}

TCannedResponse StallAfterBody(std::string raw, std::size_t bodyBytes) {
    TCannedResponse r = Canned(raw);
    r.StallAfter = raw.find("\r\n\r\n") + 4 + bodyBytes;
    r.Stall = 5s;
    return r;
}

const std::vector<TDownloadCase>& Cases() {
    static const std::vector<TDownloadCase> cases = {
        {"length 999 is taken from the header",
         {{"/p", Canned(Http("200 OK", kHtml + "Content-Length: 999\r\n", Filler(999)))}},
         "http://{host}/p",
         true,
         {"text/html", 200, 999},
         Filler(999)},
        {"length 1000 is counted",
         {{"/p", Canned(Http("200 OK", kHtml + "Content-Length: 1000\r\n", Filler(1000)))}},
         "http://{host}/p",
         true,
         {"text/html", 200, 1000},
         Filler(1000)},
        {"length 0",
         {{"/p", Canned(Http("200 OK", kHtml + "Content-Length: 0\r\n"))}},
         "http://{host}/p",
         true,
         {"text/html", 200, 0},
         ""},
        {"chunked body is counted",
         {{"/p", Canned(Http("200 OK", kHtml + "Transfer-Encoding: chunked\r\n",
                             "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n"))}},
         "http://{host}/p",
         true,
         {"text/html", 200, 11},
         "hello world"},
        {"body ending with the connection",
         {{"/p", Canned(Http("200 OK", kHtml + "Connection: close\r\n", Filler(50000)))}},
         "http://{host}/p",
         true,
         {"text/html", 200, 50000},
         Filler(50000)},
        {"short declared body that ends early keeps only what came",
         {{"/p",
           Canned(Http("200 OK", kHtml + "Content-Length: 500\r\nTransfer-Encoding: chunked\r\n",
                       "a\r\n0123456789\r\n0\r\n\r\n"))}},
         "http://{host}/p",
         true,
         {"text/html", 200, 500},
         "0123456789"},
        {"404 page is a page",
         {{"/p", Canned(Http("404 Not Found", kHtml + "Content-Length: 20\r\n",
                             "<html>gone...</html>"))}},
         "http://{host}/p",
         true,
         {"text/html", 404, 20},
         "<html>gone...</html>"},
        {"500 with length 120",
         {{"/p", Canned(Http("500 Internal Server Error", kHtml + "Content-Length: 120\r\n",
                             Filler(120)))}},
         "http://{host}/p",
         true,
         {"text/html", 500, 120},
         Filler(120)},
        {"no Content-Type: counted, not kept",
         {{"/p", Canned(Http("200 OK", "Content-Length: 5\r\n", "hello"))}},
         "http://{host}/p",
         true,
         {"", 200, 5},
         ""},
        {"long Content-Type kept verbatim",
         {{"/p", Canned(Http("200 OK", kLong + "Content-Length: 4\r\n", "<p/>"))}},
         "http://{host}/p",
         true,
         {kLongType, 200, 4},
         "<p/>"},
        {"non-HTML body is counted, not kept",
         {{"/p", Canned(Http("200 OK", "Content-Type: image/png\r\nConnection: close\r\n",
                             Filler(70000)))}},
         "http://{host}/p",
         true,
         {"image/png", 200, 70000},
         ""},
        {"connection closed in the declared body",
         {{"/p",
           CutAfterBody(Http("200 OK", kHtml + "Content-Length: 900\r\n", Filler(900)), 300)}},
         "http://{host}/p",
         false,
         {},
         ""},
        {"connection closed in a long body",
         {{"/p",
           CutAfterBody(Http("200 OK", kHtml + "Content-Length: 5000\r\n", Filler(5000)), 2000)}},
         "http://{host}/p",
         false,
         {},
         ""},
        {"status that is not a number",
         {{"/p", Canned("HTTP/1.1 abc OK\r\n" + kHtml + "Content-Length: 2\r\n\r\nhi")}},
         "http://{host}/p",
         false,
         {},
         ""},
        {"status with a letter in it",
         {{"/p", Canned("HTTP/1.1 20x OK\r\n" + kHtml + "Content-Length: 2\r\n\r\nhi")}},
         "http://{host}/p",
         false,
         {},
         ""},
        {"redirect chain: values of the final response",
         {{"/r1", Canned(Http("302 Found",
                              "Location: /r2\r\nContent-Type: text/plain\r\nContent-Length: 5\r\n",
                              "moved"))},
          {"/r2", Canned(Http("301 Moved Permanently",
                              "Location: http://{host}/end\r\nContent-Length: 0\r\n"))},
          {"/end", Canned(Http("200 OK", kHtml + "Content-Length: 4\r\n", "done"))}},
         "http://{host}/r1",
         true,
         {"text/html", 200, 4},
         "done",
         3},
        {"redirect loop fails after 10 redirects",
         {{"/loop", Canned(Http("302 Found", "Location: /loop\r\nContent-Length: 0\r\n"))}},
         "http://{host}/loop",
         false,
         {},
         "",
         11},
        {"server that never answers",
         {{"/p",
           StallAfterBody(Http("200 OK", kHtml + "Content-Length: 10\r\n", "0123456789"), 0)}},
         "http://{host}/p",
         false,
         {},
         ""},
        {"server that stalls in the body",
         {{"/p",
           StallAfterBody(Http("200 OK", kHtml + "Content-Length: 5000\r\n", Filler(5000)), 100)}},
         "http://{host}/p",
         false,
         {},
         ""},
        {"connection refused", {}, "http://{closed}/p", false, {}, "", 0},
        {"address without a scheme gets http://",
         {{"/p", Canned(Http("200 OK", kHtml + "Content-Length: 2\r\n", "ok"))}},
         "{host}/p",
         true,
         {"text/html", 200, 2},
         "ok"},
        {"scheme in capitals is used as is",
         {{"/p", Canned(Http("200 OK", kHtml + "Content-Length: 2\r\n", "ok"))}},
         "HTTP://{host}/p",
         true,
         {"text/html", 200, 2},
         "ok"},
        {"spaces and non-ASCII bytes are percent-encoded",
         {{"/a%20b/%C3%A9?q=x%01y", Canned(Http("200 OK", kHtml + "Content-Length: 2\r\n", "ok"))}},
         "http://{host}/a b/\xC3\xA9?q=x\x01y",
         true,
         {"text/html", 200, 2},
         "ok"},
        {"HTML body over 64 MiB keeps its first 64 MiB",
         {{"/p",
           [] {
               TCannedResponse r = Canned(Http("206 Partial", kHtml + "Connection: close\r\n"));
               r.FillerBytes = THttpContentDown::MaxHtmlBody + 1;
               return r;
           }()}},
         "http://{host}/p",
         true,
         {"text/html", 206, static_cast<std::int32_t>(THttpContentDown::MaxHtmlBody)},
         Filler(THttpContentDown::MaxHtmlBody),
         1,
         "page larger than 64 MiB"},
        {"non-HTML body with a declared length is not read",
         {{"/p",
           [] {
               TCannedResponse r = Canned(
                   Http("200 OK", "Content-Type: video/mp4\r\nContent-Length: 2147483648\r\n"));
               r.FillerBytes = 1 << 20;
               r.StallAfter = r.Raw.size() + 1000;
               r.Stall = 30s;
               return r;
           }()}},
         "http://{host}/p",
         true,
         {"video/mp4", 200, 2147483647},
         ""},
        {"endless compressed non-HTML body stops at the cap",
         {{"/p",
           Canned(Http("200 OK",
                       "Content-Type: application/x-tar\r\nContent-Encoding: gzip\r\n"
                       "Connection: close\r\n",
                       Compress(std::string(THttpContentDown::MaxHtmlBody + 4096, 'z'), 31)))}},
         "http://{host}/p",
         true,
         {"application/x-tar", 200, static_cast<std::int32_t>(THttpContentDown::MaxHtmlBody)},
         "",
         1,
         "page larger than 64 MiB"},
    };
    return cases;
}

class DownloadCaseTest : public ::testing::TestWithParam<TDownloadCase> {};

TEST_P(DownloadCaseTest, PostsMessagesAndKeepsValues) {
    const TDownloadCase& c = GetParam();
    TCannedServer server(20s);
    ASSERT_TRUE(server.Start());
    const std::string address = ServeCase(server, c.Responses, c.Address);

    const TDownloadResult r = RunDownload(address);

    EXPECT_EQ(r.Messages, Expected(r, c.Ok));
    EXPECT_EQ(r.Url, address);
    if (c.Ok) {
        EXPECT_EQ(r.Header, c.Header);
        EXPECT_TRUE(r.Content == c.Content) << "content of " << r.Content.size() << " bytes";
        if (c.Reason != nullptr) {
            EXPECT_EQ(r.Reason, c.Reason);
        }
    } else {
        EXPECT_EQ(r.Content, "");
    }
    EXPECT_LT(r.Elapsed, 20s); // ends by itself, no timeout waited out (60 s)

    const std::vector<TReceivedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), c.Requests);
    for (const TReceivedRequest& q : requests) {
        if (!q.IsHttp)
            continue; // the TLS handshake of the https case
        EXPECT_EQ(q.Method, "GET");
        EXPECT_EQ(q.Header("User-Agent"), std::optional<std::string>(kHttpAgent));
        EXPECT_EQ(q.Header("Accept-Encoding"), std::nullopt);
    }
    if (!c.Responses.empty() && !requests.empty()) {
        EXPECT_EQ(requests.front().Target, c.Responses.front().first);
    }
}

INSTANTIATE_TEST_SUITE_P(Responses, DownloadCaseTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) {
                             std::string name;
                             for (const char ch : std::string(info.param.Name))
                                 name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             return name;
                         });

TEST(DownloadTest, HttpsWithoutTlsServerFailsCleanly) {
    // The address goes out as TLS to the given port, not as "http://https://...".
    TCannedServer server(20s);
    ASSERT_TRUE(server.Start());
    const TDownloadResult r = RunDownload("https://" + server.HostAndPort("/p"));
    EXPECT_EQ(r.Messages, Expected(r, false));
    EXPECT_LT(r.Elapsed, 3s);
    const std::vector<TReceivedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_FALSE(requests[0].IsHttp);
    EXPECT_EQ(requests[0].Raw.substr(0, 1), "\x16"); // a TLS handshake record
}

TEST(DownloadTest, AbortEndsTheThreadWithinASecond) {
    const TIdleTimeout idle(10s); // so only the abort can end it
    TCannedServer server(20s);
    TCannedResponse slow = Canned(Http("200 OK", kHtml + "Content-Length: 5000\r\n", Filler(5000)));
    slow.Drip = 100ms;
    slow.DripSize = 20;
    server.Add("/slow", slow);
    ASSERT_TRUE(server.Start());

    const TDownloadResult r = RunDownload(server.Url("/slow"), [&](THttpContentDown& down) {
        std::this_thread::sleep_for(300ms);
        down.Abort();
    });
    EXPECT_EQ(r.Messages, Expected(r, false));
    EXPECT_LT(r.Elapsed, 300ms + 1s);
    EXPECT_EQ(r.Content, "");
}

TEST(DownloadTest, APageThatDripsFailsAtTheTimeLimit) {
    const TTotalTimeout limit(1500ms);
    TCannedServer server(20s);
    TCannedResponse drip = Canned(Http("200 OK", kHtml));
    drip.FillerBytes = 1600; // 16 bytes each 100 ms: each piece restarts the idle timer
    drip.Drip = 100ms;
    drip.DripSize = 16;
    server.Add("/drip", drip);
    ASSERT_TRUE(server.Start());
    const TDownloadResult r = RunDownload(server.Url("/drip"));
    EXPECT_EQ(r.Messages, Expected(r, false));
    EXPECT_EQ(r.Reason, "took longer than 1500 ms");
    EXPECT_LT(r.Elapsed, 2500ms);
}

std::string Brotli(const std::string& text) {
    std::string out(BrotliEncoderMaxCompressedSize(text.size()), '\0');
    std::size_t size = out.size();
    BrotliEncoderCompress(BROTLI_DEFAULT_QUALITY, BROTLI_DEFAULT_WINDOW, BROTLI_MODE_TEXT,
                          text.size(), reinterpret_cast<const std::uint8_t*>(text.data()), &size,
                          reinterpret_cast<std::uint8_t*>(out.data()));
    out.resize(size);
    return out;
}

std::string Zstd(const std::string& text) {
    std::string out(ZSTD_compressBound(text.size()), '\0');
    out.resize(ZSTD_compress(out.data(), out.size(), text.data(), text.size(), 3));
    return out;
}

// Every layer of Content-Encoding is undone, the last applied first; a body
// that does not decode or ends before its compressed data does is a failure.
TEST(DownloadTest, ACompressedPageIsDecoded) {
    std::string page;
    for (int i = 0; i < 100; ++i)
        page += "<a href=\"p" + std::to_string(i) + ".html\">page</a>\n";
    const std::string gzip = Compress(page, 31);
    const struct {
        std::string encoding, body;
        const char* failure; // the reason, for a body that cannot be read
    } table[] = {
        {"gzip", gzip, nullptr}, // a declared length under 1000 is not the page's
        {"Deflate", Compress(page, 15), nullptr},
        {"deflate", Compress(page, -15), nullptr}, // bare, as some servers send it
        {"br", Brotli(page), nullptr},
        {"zstd", Zstd(page), nullptr},
        {"gzip, gzip", Compress(gzip, 31), nullptr},
        {"gzip\r\nContent-Encoding: gzip", Compress(gzip, 31), nullptr},
        {"deflate, identity, BR", Brotli(Compress(page, 15)), nullptr},
        {"gzip, zstd", Zstd(gzip), nullptr},
        {"gzip", "<a b>", "the gzip body cannot be decoded: incorrect header check"},
        {"gzip, br", Brotli("<a b>"), "the gzip body cannot be decoded: incorrect header check"},
        {"gzip", gzip.substr(0, gzip.size() / 2),
         "the gzip body ends before its compressed data does"},
        {"zstd", Zstd(page).substr(0, 40), "the zstd body ends before its compressed data does"},
    };
    TCannedServer server(20s);
    for (std::size_t i = 0; i < std::size(table); ++i)
        server.Add(
            "/" + std::to_string(i),
            Canned(Http("200 OK",
                        kHtml + "Content-Encoding: " + table[i].encoding +
                            "\r\nContent-Length: " + std::to_string(table[i].body.size()) + "\r\n",
                        table[i].body)));
    ASSERT_TRUE(server.Start());
    for (std::size_t i = 0; i < std::size(table); ++i) {
        SCOPED_TRACE(table[i].encoding);
        ASSERT_LT(table[i].body.size(), 1000u);
        const bool ok = table[i].failure == nullptr;
        const TDownloadResult r = RunDownload(server.Url("/" + std::to_string(i)));
        EXPECT_EQ(r.Messages, Expected(r, ok));
        EXPECT_EQ(r.Content, ok ? page : "");
        EXPECT_EQ(r.Reason, ok ? "" : table[i].failure);
        if (ok) {
            EXPECT_EQ(r.Header.ContentLength, static_cast<std::int32_t>(page.size()));
        }
    }
}

TEST(DownloadTest, AbortBeforeResumeFailsAtOnce) {
    TCannedServer server(20s);
    server.Add("/p", Canned(Http("200 OK", kHtml + "Content-Length: 2\r\n", "ok")));
    ASSERT_TRUE(server.Start());
    TMessageRecorder window;
    const HWND handle = TWindowHandle::Create(&window);
    THttpContentDown down(server.Url("/p"), handle);
    down.Abort();
    down.Resume();
    down.WaitFor();
    window.PumpUntil([&] { return window.Messages.size() == 3; }, 2s);
    EXPECT_EQ(window.Messages.back(),
              (TRecordedMessage{WM_DOWNLOAD_FAILED, reinterpret_cast<std::uintptr_t>(&down)}));
    handle->Detach();
}

} // namespace
