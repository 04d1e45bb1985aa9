#include "TSiteServer.h"

#include <httplib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <thread>
#include <utility>

namespace fs = std::filesystem;

namespace {

// Long enough for a slow client, short enough that Stop never keeps anyone
// waiting for long: an idle kept-alive connection is dropped after a second.
constexpr time_t ReadTimeoutSeconds = 2;
constexpr time_t WriteTimeoutSeconds = 5;
constexpr time_t KeepAliveSeconds = 1;
// How long Start waits for the listening thread to take up its socket.
constexpr auto StartTimeout = std::chrono::seconds(5);
constexpr std::size_t ReadChunk = 64 * 1024;

struct TTarget {
    int Status = 404;
    fs::path File;        // the file to send, for a 200
    std::string Location; // where to go instead, for a 301
};

const char* ContentType(const fs::path& file) {
    static constexpr std::array<std::pair<std::string_view, const char*>, 16> Types{{
        {".html", "text/html"},
        {".htm", "text/html"},
        {".css", "text/css"},
        {".js", "text/javascript"},
        {".png", "image/png"},
        {".jpg", "image/jpeg"},
        {".jpeg", "image/jpeg"},
        {".gif", "image/gif"},
        {".svg", "image/svg+xml"},
        {".webp", "image/webp"},
        {".ico", "image/x-icon"},
        {".pdf", "application/pdf"},
        {".json", "application/json"},
        {".txt", "text/plain"},
        {".woff2", "font/woff2"},
        {".xml", "application/xml"},
    }};
    std::string extension = file.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const auto& [known, type] : Types)
        if (extension == known)
            return type;
    return "application/octet-stream";
}

// True when path is root or lies below it; both are canonical.
bool Inside(const fs::path& root, const fs::path& path) {
    const auto [r, p] = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
    return r == root.end();
}

// The file under the canonical root that a decoded request path names.
TTarget Resolve(const fs::path& root, const std::string& path, const std::string& target) {
    if (path.empty() || path.front() != '/' || path.find('\0') != std::string::npos)
        return {400, {}, {}};
    fs::path relative;
    std::size_t from = 1;
    while (from <= path.size()) {
        std::size_t to = path.find('/', from);
        if (to == std::string::npos)
            to = path.size();
        const std::string_view segment(path.data() + from, to - from);
        if (segment == "..")
            return {403, {}, {}};
        if (!segment.empty() && segment != ".")
            relative /= fs::path(segment);
        from = to + 1;
    }
    std::error_code error;
    fs::path file = fs::weakly_canonical(root / relative, error);
    if (error)
        return {404, {}, {}};
    if (!Inside(root, file))
        return {403, {}, {}}; // a symbolic link that leads out
    if (fs::is_directory(file, error)) {
        if (path.back() != '/') {
            // "//host" or "/\\host" would send a browser to another host:
            // the redirect names the path from a single "/".
            const std::size_t query = target.find('?');
            const std::size_t start = target.find_first_not_of("/\\");
            const std::string from = start == std::string::npos || start > query
                                         ? std::string()
                                         : target.substr(start, query - start);
            return {301,
                    {},
                    "/" + from + "/" + (query == std::string::npos ? "" : target.substr(query))};
        }
        file = fs::weakly_canonical(file / "index.html", error);
        if (error)
            return {404, {}, {}};
        if (!Inside(root, file))
            return {403, {}, {}};
    }
    // Anything but a regular file (a pipe, a device) could block the reader.
    if (!fs::is_regular_file(file, error))
        return {404, {}, {}};
    return {200, file, {}};
}

void SetError(httplib::Response& response, int status) {
    const char* reason = status == 400   ? "Bad Request"
                         : status == 403 ? "Forbidden"
                         : status == 405 ? "Method Not Allowed"
                         : status == 421 ? "Misdirected Request"
                                         : "Not Found";
    response.status = status;
    const std::string text = std::to_string(status) + " " + reason;
    response.set_content("<!DOCTYPE html>\n<title>" + text + "</title>\n<h1>" + text + "</h1>\n",
                         "text/html");
}

// Sends the file in pieces read as they are asked for, so a large file never
// has to fit in memory. A file that shrinks meanwhile ends the connection.
void SetFile(httplib::Response& response, const fs::path& path) {
    auto file = std::make_shared<std::ifstream>(path, std::ios::binary);
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    if (!*file || error)
        return SetError(response, 403);
    response.status = 200;
    if (size == 0)
        return response.set_content(std::string(), ContentType(path));
    response.set_content_provider(
        static_cast<std::size_t>(size), ContentType(path),
        [file](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            std::string buffer(std::min(length, ReadChunk), '\0');
            file->clear();
            file->seekg(static_cast<std::streamoff>(offset));
            file->read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            const auto got = static_cast<std::size_t>(file->gcount());
            return got > 0 && sink.write(buffer.data(), got);
        });
}

} // namespace

struct TSiteServer::TState {
    httplib::Server Server;
    std::thread Listener;
    std::atomic<bool> Done{false};
    fs::path Root;
    std::uint16_t Port = 0;
};

TSiteServer::TSiteServer() = default;

TSiteServer::~TSiteServer() {
    Stop();
}

std::string TSiteServer::Start(const std::string& folder, std::uint16_t wanted) {
    Stop();
    std::error_code error;
    const fs::path root = fs::canonical(fs::path(folder), error);
    if (folder.empty() || error || !fs::is_directory(root, error))
        return "cannot serve \"" + folder + "\": no such folder";

    auto state = std::make_unique<TState>();
    state->Root = root;
    httplib::Server& server = state->Server;
    server.set_read_timeout(ReadTimeoutSeconds, 0);
    server.set_write_timeout(WriteTimeoutSeconds, 0);
    server.set_keep_alive_timeout(KeepAliveSeconds);
    // Without it a kept-alive connection's next answer waits for the
    // client's delayed acknowledgement, some 40 ms a request.
    server.set_tcp_nodelay(true);
    const int port = wanted == 0 ? server.bind_to_any_port("127.0.0.1")
                     : server.bind_to_port("127.0.0.1", wanted) ? wanted
                                                                : -1;
    if (port <= 0 && wanted != 0)
        return "cannot serve \"" + folder + "\" on port " + std::to_string(wanted) +
               " of 127.0.0.1: it is in use";
    if (port <= 0)
        return "cannot serve \"" + folder + "\": no port on 127.0.0.1 to listen on";
    state->Port = static_cast<std::uint16_t>(port);
    // Only the crawl's own requests are answered: a page elsewhere that
    // points a name of its own at 127.0.0.1 (DNS rebinding) sends its name
    // in Host, and is refused.
    const std::string host = "127.0.0.1:" + std::to_string(port);
    // Every request is answered here, before the library's own routing.
    server.set_pre_routing_handler(
        [root, host](const httplib::Request& request, httplib::Response& response) {
            if (request.get_header_value("Host") != host) {
                SetError(response, 421);
                return httplib::Server::HandlerResponse::Handled;
            }
            if (request.method != "GET" && request.method != "HEAD") {
                SetError(response, 405);
                response.set_header("Allow", "GET, HEAD");
                return httplib::Server::HandlerResponse::Handled;
            }
            const TTarget target = Resolve(root, request.path, request.target);
            if (target.Status == 200)
                SetFile(response, target.File);
            else if (target.Status == 301)
                response.set_redirect(target.Location, 301);
            else
                SetError(response, target.Status);
            return httplib::Server::HandlerResponse::Handled;
        });

    TState* s = state.get();
    state->Listener = std::thread([s] {
        s->Server.listen_after_bind();
        s->Done = true;
    });
    // A stop asked for before the thread listens would be lost: wait for it.
    const auto until = std::chrono::steady_clock::now() + StartTimeout;
    while (!s->Server.is_running() && !s->Done && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    FState = std::move(state);
    if (!FState->Server.is_running()) {
        Stop();
        return "cannot serve \"" + folder + "\": the server did not start";
    }
    return {};
}

void TSiteServer::Stop() {
    if (!FState)
        return;
    if (FState->Server.is_running())
        FState->Server.stop();
    if (FState->Listener.joinable())
        FState->Listener.join();
    FState.reset();
}

bool TSiteServer::Serving() const noexcept {
    return FState && !FState->Done;
}

std::uint16_t TSiteServer::Port() const noexcept {
    return FState ? FState->Port : 0;
}

std::string TSiteServer::Url() const {
    return FState ? "http://127.0.0.1:" + std::to_string(FState->Port) + "/" : std::string();
}
