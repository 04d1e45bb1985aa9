#include "TCannedServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

namespace {

constexpr std::size_t kMaxHead = 64 * 1024;
constexpr std::chrono::milliseconds kDrainTime{200};

const char kNotFound[] = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
const char kBadRequest[] =
    "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

TReceivedRequest ParseHead(const std::string& head) {
    TReceivedRequest request;
    request.Raw = head;
    std::size_t pos = 0;
    bool first = true;
    while (pos < head.size()) {
        std::size_t end = head.find('\n', pos);
        if (end == std::string::npos)
            end = head.size();
        const std::string_view line = Trim(std::string_view(head).substr(pos, end - pos));
        pos = end + 1;
        if (first) {
            first = false;
            request.RequestLine = std::string(line);
            const std::size_t a = line.find(' ');
            const std::size_t b = line.find(' ', a == std::string_view::npos ? a : a + 1);
            request.Method = std::string(line.substr(0, a));
            if (a != std::string_view::npos)
                request.Target = std::string(line.substr(a + 1, b - a - 1));
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos)
            request.Headers.emplace_back(std::string(Trim(line.substr(0, colon))),
                                         std::string(Trim(line.substr(colon + 1))));
    }
    return request;
}

} // namespace

std::string TCannedResponse::Bytes() const {
    static constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyz";
    std::string bytes = Raw;
    bytes.reserve(Raw.size() + FillerBytes);
    for (std::size_t left = FillerBytes; left > 0;) {
        const std::size_t n = std::min(left, kAlphabet.size());
        bytes.append(kAlphabet.substr(0, n));
        left -= n;
    }
    return bytes;
}

bool TCannedResponse::KeepsConnection() const {
    if (CloseAfter != Never || Raw.compare(0, 9, "HTTP/1.1 ") != 0)
        return false;
    bool framed = false;
    const std::size_t end = Raw.find("\r\n\r\n");
    std::size_t pos = Raw.find("\r\n");
    while (pos != std::string::npos && pos < end) {
        const std::size_t next = Raw.find("\r\n", pos + 2);
        const std::string_view line = std::string_view(Raw).substr(pos + 2, next - pos - 2);
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos) {
            const std::string_view name = Trim(line.substr(0, colon));
            const std::string_view value = Trim(line.substr(colon + 1));
            if (EqualsNoCase(name, "Connection") && EqualsNoCase(value, "close"))
                return false;
            if (EqualsNoCase(name, "Content-Length") ||
                (EqualsNoCase(name, "Transfer-Encoding") && EqualsNoCase(value, "chunked")))
                framed = true;
        }
        pos = next;
    }
    return framed;
}

std::optional<std::string> TReceivedRequest::Header(std::string_view name) const {
    for (const auto& [key, value] : Headers) {
        if (EqualsNoCase(key, name))
            return value;
    }
    return std::nullopt;
}

TCannedServer::TCannedServer(std::chrono::milliseconds lifetime, std::string address)
    : FLifetime(lifetime), FAddress(std::move(address)) {}

TCannedServer::~TCannedServer() {
    Stop();
}

void TCannedServer::Add(const std::string& target, TCannedResponse response) {
    AddSequence(target, {std::move(response)});
}

void TCannedServer::Add(const std::string& method, const std::string& target,
                        TCannedResponse response) {
    AddSequence(method + " " + target, {std::move(response)});
}

void TCannedServer::AddSequence(const std::string& target, std::vector<TCannedResponse> responses) {
    std::lock_guard guard(FLock);
    FResponses[target] = TScript{std::move(responses), 0};
}

TCannedResponse TCannedServer::ResponseFor(const TReceivedRequest& request) {
    std::lock_guard guard(FLock);
    auto found = FResponses.find(request.Method + " " + request.Target);
    if (found == FResponses.end())
        found = FResponses.find(request.Target);
    if (found == FResponses.end())
        found = FResponses.find("*");
    if (found == FResponses.end() || found->second.Responses.empty()) {
        TCannedResponse response;
        response.Raw = kNotFound;
        return response;
    }
    TScript& script = found->second;
    const std::size_t index = std::min(script.Next, script.Responses.size() - 1);
    ++script.Next;
    return script.Responses[index];
}

std::size_t TCannedServer::PeakInFlight() const {
    std::lock_guard guard(FLock);
    return FPeakInFlight;
}

std::size_t TCannedServer::Connections() const {
    std::lock_guard guard(FLock);
    return FConnections.size();
}

void TCannedServer::LeaveFlight(bool& inFlight) {
    if (!inFlight)
        return;
    inFlight = false;
    std::lock_guard guard(FLock);
    --FInFlight;
}

bool TCannedServer::Start() {
    FWake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    FListen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (FWake < 0 || FListen < 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = 0;
    if (inet_pton(AF_INET, FAddress.c_str(), &addr.sin_addr) != 1)
        return false;
    socklen_t len = sizeof addr;
    if (bind(FListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(FListen, 16) != 0 ||
        getsockname(FListen, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return false;
    FPort = ntohs(addr.sin_port);
    FDeadline = Clock::now() + FLifetime;
    FListener = std::thread([this] { Listen(); });
    return true;
}

void TCannedServer::Stop() {
    {
        std::lock_guard guard(FLock);
        if (FStopped)
            return;
        FStopped = true;
    }
    if (FWake >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = write(FWake, &one, sizeof one);
    }
    if (FListener.joinable())
        FListener.join();
    // No connection thread is added once the listener has ended.
    for (std::thread& t : FConnections)
        t.join();
    FConnections.clear();
    if (FListen >= 0)
        close(FListen);
    if (FWake >= 0)
        close(FWake);
    FListen = FWake = -1;
}

std::string TCannedServer::HostAndPort(std::string_view target) const {
    return FAddress + ":" + std::to_string(FPort) + std::string(target);
}

std::string TCannedServer::Url(std::string_view target) const {
    return "http://" + HostAndPort(target);
}

std::vector<TReceivedRequest> TCannedServer::Requests() const {
    std::lock_guard guard(FLock);
    return FRequests;
}

bool TCannedServer::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock guard(FLock);
    return FArrived.wait_for(guard, timeout, [&] { return FRequests.size() >= count; });
}

std::uint16_t TCannedServer::ClosedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    std::uint16_t port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    if (fd >= 0)
        close(fd);
    return port;
}

bool TCannedServer::WaitFor(int fd, short events, Clock::time_point until) {
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(std::min(until, FDeadline) - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd fds[2] = {{fd, events, 0}, {FWake, POLLIN, 0}};
        const int n = poll(fds, 2, static_cast<int>(left.count()) + 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || (fds[1].revents & POLLIN))
            return false;
        if (n > 0)
            return true;
    }
}

bool TCannedServer::Pause(std::chrono::milliseconds duration) {
    const Clock::time_point until = Clock::now() + duration;
    // Only the stop signal can wake this wait early.
    pollfd wake = {FWake, POLLIN, 0};
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0)
            return Clock::now() < FDeadline;
        const int n = poll(&wake, 1, static_cast<int>(left.count()) + 1);
        if (n > 0)
            return false;
    }
}

void TCannedServer::Listen() {
    while (WaitFor(FListen, POLLIN, FDeadline)) {
        const int fd = accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            continue;
        std::lock_guard guard(FLock);
        FConnections.emplace_back([this, fd] { Serve(fd); });
    }
}

bool TCannedServer::ReadHead(int fd, std::string& pending, std::string& head) {
    char buffer[4096];
    for (;;) {
        const std::size_t end = pending.find("\r\n\r\n");
        const bool http = pending.empty() || (pending[0] >= 'A' && pending[0] <= 'Z');
        if (end != std::string::npos || !http || pending.size() >= kMaxHead) {
            // Something that is not HTTP is taken whole as it came.
            const std::size_t size = end != std::string::npos && http ? end + 4 : pending.size();
            head = pending.substr(0, size);
            pending.erase(0, size);
            return true;
        }
        if (!WaitFor(fd, POLLIN, FDeadline))
            return false;
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n == 0)
            return false;
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            return false;
        }
        pending.append(buffer, static_cast<std::size_t>(n));
    }
}

bool TCannedServer::SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN || !WaitFor(fd, POLLOUT, FDeadline))
                return false;
            continue;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void TCannedServer::Record(TReceivedRequest request) {
    request.Arrived = Clock::now();
    std::lock_guard guard(FLock);
    FRequests.push_back(std::move(request));
    FPeakInFlight = std::max(FPeakInFlight, ++FInFlight);
    FArrived.notify_all();
}

bool TCannedServer::Respond(int fd, const TCannedResponse& response, bool& inFlight) {
    const std::string bytes = response.Bytes();
    const std::size_t end = std::min(bytes.size(), response.CloseAfter);
    const bool stalls = response.Stall.count() > 0;
    std::size_t sent = 0;
    while (sent < end) {
        if (sent == response.StallAfter && stalls && !Pause(response.Stall))
            return false;
        std::size_t piece = end - sent;
        if (response.StallAfter > sent)
            piece = std::min(piece, response.StallAfter - sent);
        if (response.Drip.count() > 0) {
            if (!Pause(response.Drip))
                return false;
            piece = std::min(piece, std::max<std::size_t>(response.DripSize, 1));
        }
        if (sent + piece == end)
            LeaveFlight(inFlight);
        if (!SendAll(fd, std::string_view(bytes).substr(sent, piece)))
            return false;
        sent += piece;
    }
    // A stall at the very end holds the connection open.
    if (sent == response.StallAfter && stalls && !Pause(response.Stall))
        return false;
    return response.KeepsConnection();
}

void TCannedServer::Serve(int fd) {
    std::string pending;
    std::string head;
    while (ReadHead(fd, pending, head)) {
        TReceivedRequest request;
        TCannedResponse response;
        if (head[0] >= 'A' && head[0] <= 'Z') {
            request = ParseHead(head);
            response = ResponseFor(request);
        } else {
            request.IsHttp = false;
            request.Raw = head;
            response.Raw = kBadRequest;
        }
        Record(std::move(request));
        bool inFlight = true;
        const bool goOn = Respond(fd, response, inFlight);
        LeaveFlight(inFlight);
        if (!goOn)
            break;
    }
    // A graceful close: no reset that could destroy what was sent.
    shutdown(fd, SHUT_WR);
    char sink[4096];
    const Clock::time_point until = Clock::now() + kDrainTime;
    while (WaitFor(fd, POLLIN, until) && recv(fd, sink, sizeof sink, 0) > 0) {
    }
    close(fd);
}
