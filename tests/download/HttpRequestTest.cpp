// The HTTP layer on its own: header queries, chunked reads, and why a
// request stopped.
#include "CannedResponses.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const auto* const kShortTimeouts = ::testing::AddGlobalTestEnvironment(new TShortTimeouts);

using namespace std::chrono_literals;

TEST(HttpRequestTest, QueriesTellMissingFromFailed) {
    TCannedServer server(20s);
    server.Add("/p", Canned(Http("200 OK", "Content-Type: text/html\r\nX-Folded: one\r\n two\r\n"
                                           "Content-Length: 0\r\n")));
    ASSERT_TRUE(server.Start());
    const THttpSession session("agent");

    const auto opened = session.OpenUrl(server.Url("/p"));
    std::string value;
    ASSERT_TRUE(opened->Opened());
    EXPECT_EQ(opened->QueryHeader("content-TYPE", value), THttpQuery::Ok);
    EXPECT_EQ(value, "text/html");
    EXPECT_EQ(opened->QueryHeader("X-Folded", value), THttpQuery::Ok);
    EXPECT_EQ(value, "one two");
    EXPECT_EQ(opened->QueryHeader("Content-Location", value), THttpQuery::Missing);
    EXPECT_EQ(opened->QueryStatusCode(value), THttpQuery::Ok);
    EXPECT_EQ(value, "200");
    EXPECT_EQ(opened->FinalUrl(), server.Url("/p"));

    const auto refused =
        session.OpenUrl("http://127.0.0.1:" + std::to_string(TCannedServer::ClosedPort()) + "/");
    EXPECT_FALSE(refused->Opened());
    EXPECT_EQ(refused->QueryHeader("Content-Type", value), THttpQuery::Failed);
    EXPECT_EQ(refused->QueryStatusCode(value), THttpQuery::Failed);
    EXPECT_EQ(refused->Failure(), THttpFailure::Transfer);
}

TEST(HttpRequestTest, HeadersAreThoseOfTheFinalResponse) {
    TCannedServer server(20s);
    server.Add("/r", Canned(Http("301 Moved",
                                 "Location: /p\r\nX-Hop: 1\r\nContent-Type: text/plain\r\n"
                                 "Content-Length: 5\r\n",
                                 "moved")));
    server.Add("/p", Canned(Http("200 OK", "Content-Length: 4\r\n", "page")));
    ASSERT_TRUE(server.Start());
    const auto request = THttpSession("agent").OpenUrl(server.Url("/r"));
    std::string value;
    EXPECT_EQ(request->QueryHeader("X-Hop", value), THttpQuery::Missing);
    EXPECT_EQ(request->QueryHeader("Content-Type", value), THttpQuery::Missing);
    EXPECT_EQ(request->FinalUrl(), server.Url("/p"));

    char buffer[16];
    std::size_t received = 0;
    ASSERT_TRUE(request->Read(buffer, sizeof buffer, received));
    EXPECT_EQ(std::string(buffer, received), "page");
}

TEST(HttpRequestTest, BodyComesWholeInSmallReads) {
    TCannedServer server(20s);
    TCannedResponse dripping = Canned(Http("200 OK", "Connection: close\r\n", Filler(3000)));
    dripping.Drip = 1ms;
    dripping.DripSize = 700;
    server.Add("/p", dripping);
    ASSERT_TRUE(server.Start());
    const auto request = THttpSession("agent").OpenUrl(server.Url("/p"));

    std::string body;
    char buffer[7];
    std::size_t received = 0;
    while (request->Read(buffer, sizeof buffer, received) && received > 0)
        body.append(buffer, received);
    EXPECT_EQ(received, 0u);
    EXPECT_EQ(request->Failure(), THttpFailure::None);
    EXPECT_TRUE(body == Filler(3000));
}

TEST(HttpRequestTest, FailureSaysWhyTheBodyStopped) {
    TCannedServer server(20s);
    const std::string raw = Http("200 OK", "Content-Length: 5000\r\n", Filler(5000));
    TCannedResponse cut = Canned(raw);
    cut.CloseAfter = raw.size() - 1000;
    server.Add("/cut", cut);
    TCannedResponse stall = Canned(raw);
    stall.StallAfter = raw.size() - 1000;
    stall.Stall = 5s;
    server.Add("/stall", stall);
    ASSERT_TRUE(server.Start());

    std::atomic<bool> abort{false};
    const THttpSession session("agent", &abort);
    const std::pair<const char*, THttpFailure> cases[] = {
        {"/cut", THttpFailure::Transfer},
        {"/stall", THttpFailure::TimedOut},
    };
    for (const auto& [target, failure] : cases) {
        const auto request = session.OpenUrl(server.Url(target));
        char buffer[4096];
        std::size_t received = 0, total = 0;
        while (request->Read(buffer, sizeof buffer, received) && received > 0)
            total += received;
        EXPECT_EQ(request->Failure(), failure) << target << ": " << request->ErrorText();
        EXPECT_EQ(total, 4000u) << target; // what came before the failure is handed out
    }

    abort = true;
    const auto request = session.OpenUrl(server.Url("/cut"));
    EXPECT_FALSE(request->Opened());
    EXPECT_EQ(request->Failure(), THttpFailure::Aborted);
}

// The folder server's 127.0.0.1 is reached directly whatever the proxy
// settings say; any other address still goes through the proxy.
TEST(HttpRequestTest, OnlyTheFolderServersAddressBypassesTheProxy) {
    TCannedServer proxy, server;
    ASSERT_TRUE(proxy.Start() && server.Start());
    const std::string elsewhere = "http://127.0.0.2:" + std::to_string(TCannedServer::ClosedPort());
    const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
    proxy.Add(elsewhere + "/b", {ok});
    server.Add("/a", {ok});
    const std::string saved[] = {getenv("no_proxy") ? getenv("no_proxy") : "",
                                 getenv("NO_PROXY") ? getenv("NO_PROXY") : ""};
    setenv("http_proxy", proxy.Url("").c_str(), 1);
    for (const char* noProxy : {"", "example.org"}) {
        setenv("no_proxy", noProxy, 1);
        unsetenv("NO_PROXY");
        for (const std::string& url : {server.Url("/a"), elsewhere + "/b"}) {
            SCOPED_TRACE(url);
            std::string status;
            const auto request = THttpSession("agent").OpenUrl(url);
            EXPECT_EQ(request->QueryStatusCode(status), THttpQuery::Ok);
            EXPECT_EQ(status, "200");
        }
    }
    unsetenv("http_proxy");
    setenv("no_proxy", saved[0].c_str(), 1);
    setenv("NO_PROXY", saved[1].c_str(), 1);
    EXPECT_EQ(server.Requests().size(), 2u);
    ASSERT_EQ(proxy.Requests().size(), 2u);
    EXPECT_EQ(proxy.Requests()[0].Target, elsewhere + "/b");
}

TEST(HttpRequestTest, ConnectTimeoutApplies) {
    // A listener whose queue is full and never accepted: the handshake of
    // one more connection is left unanswered.
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    int fillers[3];
    for (int& fd : fillers) {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    }

    const TIdleTimeout idle(10s); // so only the connect timeout can end it
    const auto start = std::chrono::steady_clock::now();
    const auto request = THttpSession("agent").OpenUrl(
        "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/");
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(request->Opened());
    EXPECT_EQ(request->Failure(), THttpFailure::TimedOut) << request->ErrorText();
    EXPECT_LT(elapsed, 2500ms);

    for (const int fd : fillers)
        close(fd);
    close(listener);
}

} // namespace
