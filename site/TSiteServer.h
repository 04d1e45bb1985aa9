#pragma once
// Serves one folder over HTTP on 127.0.0.1, on a port of the system's
// choosing, so that a built site can be checked before it is published.
//
// A request path names a file under the folder; a folder stands for its
// index.html, and a folder asked for without its trailing "/" is redirected
// there, as web servers do, so that relative links resolve the same way. A
// missing file is a 404. Nothing outside the folder is ever served: a ".."
// segment, or a symbolic link that leads out of the folder, gets a 403. Only
// requests addressed to "127.0.0.1:port" are answered; any other Host gets a
// 421, so a web page cannot reach the folder through a name of its own.
//
// The server runs on threads of its own; Stop (or the destructor) ends it
// and waits for them, within the server's read and keep-alive timeouts.

#include <cstdint>
#include <memory>
#include <string>

class TSiteServer {
public:
    TSiteServer();
    ~TSiteServer();

    TSiteServer(const TSiteServer&) = delete;
    TSiteServer& operator=(const TSiteServer&) = delete;

    // Starts serving folder, on port when it is not 0 (a crawl taken up
    // again asks for the addresses it kept). Returns why it cannot, or an
    // empty string. A server that is serving stops first.
    std::string Start(const std::string& folder, std::uint16_t port = 0);
    // Stops serving and waits for the server's threads. Does nothing when
    // the server is not serving.
    void Stop();

    bool Serving() const noexcept;
    std::uint16_t Port() const noexcept;
    // "http://127.0.0.1:port/" while serving.
    std::string Url() const;

private:
    struct TState;
    std::unique_ptr<TState> FState;
};
