// The folder server: what each request path gets, that nothing outside the
// folder is ever served, and that it stops promptly.
#include "site/TSiteServer.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

struct TFolder {
    fs::path Top = fs::temp_directory_path() / ("marrowby-site-" + std::to_string(::getpid()));
    fs::path Root = Top / "site";

    TFolder() {
        fs::remove_all(Top);
        fs::create_directories(Root / "sub");
        fs::create_directories(Top / "private");
        Write(Top / "secret.txt", "secret");
        Write(Top / "private/index.html", "secret");
        Write(Root / "index.html", "<a href=sub/>sub</a>");
    }
    ~TFolder() { fs::remove_all(Top); }

    static void Write(const fs::path& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
};

TEST(SiteServer, AnswersEachPathAndServesNothingOutsideTheFolder) {
    TFolder f;
    const char* names[] = {"a.html",
                           "b.htm",
                           "c.css",
                           "d.js",
                           "e.PNG",
                           "f.jpg",
                           "g.gif",
                           "h.svg",
                           "i.webp",
                           "j.ico",
                           "k.pdf",
                           "l.json",
                           "m.txt",
                           "n.woff2",
                           "o.bin",
                           "sub/index.html",
                           "sub/with space.txt",
                           "empty.txt"};
    for (const char* name : names)
        TFolder::Write(f.Root / name, name == std::string("empty.txt") ? "" : name);
    fs::create_symlink(f.Top / "secret.txt", f.Root / "out.txt");
    fs::create_symlink(f.Top / "private", f.Root / "outdir");
    fs::create_symlink(f.Root / "a.html", f.Root / "in.html");
    fs::create_directory(f.Root / "bare");
    fs::create_symlink(f.Top / "private/index.html", f.Root / "bare/index.html");
    ASSERT_EQ(::mkfifo((f.Root / "pipe.txt").c_str(), 0600), 0);

    TSiteServer server;
    ASSERT_EQ(server.Start(f.Root.string()), "");
    httplib::Client client("127.0.0.1", server.Port());
    client.set_read_timeout(5, 0);

    struct TCase {
        const char* Target;
        int Status;
        const char* Type; // or the Location of a redirect
        const char* Body = nullptr;
        const char* Host = nullptr; // instead of the server's own
    };
    const TCase table[] = {
        {"/", 200, "text/html", "<a href=sub/>sub</a>"},
        {"/a.html", 200, "text/html", "a.html"},
        {"/b.htm", 200, "text/html"},
        {"/c.css", 200, "text/css"},
        {"/d.js", 200, "text/javascript"},
        {"/e.PNG", 200, "image/png"},
        {"/f.jpg", 200, "image/jpeg"},
        {"/g.gif", 200, "image/gif"},
        {"/h.svg", 200, "image/svg+xml"},
        {"/i.webp", 200, "image/webp"},
        {"/j.ico", 200, "image/x-icon"},
        {"/k.pdf", 200, "application/pdf"},
        {"/l.json", 200, "application/json"},
        {"/m.txt", 200, "text/plain"},
        {"/n.woff2", 200, "font/woff2"},
        {"/o.bin", 200, "application/octet-stream"},
        {"/empty.txt", 200, "text/plain", ""},
        {"/sub/", 200, "text/html", "sub/index.html"},
        {"/./sub//index.html", 200, "text/html"},
        {"/sub/with%20space.txt", 200, "text/plain", "sub/with space.txt"},
        {"/sub?x=1", 301, "/sub/?x=1"},
        {"/in.html", 200, "text/html", "a.html"},
        {"/missing.html", 404, "text/html"},
        {"/sub/missing/", 404, "text/html"},
        {"/pipe.txt", 404, "text/html"},
        {"/bare/", 403, "text/html"},
        {"/../secret.txt", 403, "text/html"},
        {"/sub/../../secret.txt", 403, "text/html"},
        {"/%2e%2e/secret.txt", 403, "text/html"},
        {"/sub/%2E%2E/%2e%2e/secret.txt", 403, "text/html"},
        {"/..%2fsecret.txt", 403, "text/html"},
        {"/out.txt", 403, "text/html"},
        {"/outdir/", 403, "text/html"},
        {"/outdir/index.html", 403, "text/html"},
        {"/a.html%00.txt", 400, "text/html"},
        // A redirect never leads to another host.
        {"//sub", 301, "/sub/"},
        {"///sub?x=//y", 301, "/sub/?x=//y"},
        // Only requests for the server's own address are answered.
        {"/a.html", 421, "text/html", nullptr, "evil.example"},
        {"/a.html", 421, "text/html", nullptr, "evil.example:80"},
        {"/a.html", 421, "text/html", nullptr, "localhost"},
    };
    for (const TCase& c : table) {
        SCOPED_TRACE(c.Target);
        httplib::Headers headers;
        if (c.Host != nullptr)
            headers.emplace("Host", c.Host);
        const httplib::Result r = client.Get(c.Target, headers);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, c.Status);
        EXPECT_EQ(r->get_header_value(c.Status == 301 ? "Location" : "Content-Type"), c.Type);
        if (c.Body != nullptr) {
            EXPECT_EQ(r->body, c.Body);
        }
        EXPECT_EQ(r->body.find("secret"), std::string::npos);
    }
    const httplib::Result post = client.Post("/a.html", "x", "text/plain");
    ASSERT_TRUE(post);
    EXPECT_EQ(post->status, 405);
}

TEST(SiteServer, RefusesWhatIsNoFolderAndStopsPromptly) {
    TFolder f;
    TSiteServer server;
    for (const std::string& folder :
         {std::string(), (f.Root / "index.html").string(), (f.Root / "nothing").string()}) {
        EXPECT_NE(server.Start(folder), "") << folder;
        EXPECT_FALSE(server.Serving());
    }

    ASSERT_EQ(server.Start(f.Root.string()), "");
    EXPECT_EQ(server.Url(), "http://127.0.0.1:" + std::to_string(server.Port()) + "/");
    httplib::Client client("127.0.0.1", server.Port());
    client.set_keep_alive(true); // an idle connection the server must not wait for
    ASSERT_TRUE(client.Get("/"));
    const auto start = std::chrono::steady_clock::now();
    server.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_FALSE(server.Serving());
    httplib::Client after("127.0.0.1", server.Port());
    after.set_connection_timeout(2, 0);
    EXPECT_FALSE(after.Get("/"));
}

} // namespace
