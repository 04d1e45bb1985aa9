#pragma once
// A test HTTP server that answers each request path with canned bytes.
//
// It listens on 127.0.0.1 (or another loopback address, standing for another
// host) on a port of the system's choosing and serves every
// connection on its own thread: it reads one request head, records it, sends
// the response registered for the request target (a plain 404 for any other
// target), and then serves the next request on the same connection when the
// response's framing allows it, or closes the connection. Anything that does not start like an
// HTTP request (a TLS handshake, say) is recorded and answered with a 400.
//
// Every wait is bounded: the server stops by itself when its lifetime is
// over, and Stop (or the destructor) interrupts stalls and drips at once.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

struct TCannedResponse {
    static constexpr std::size_t Never = static_cast<std::size_t>(-1);

    // Sent verbatim: status line, headers and body.
    std::string Raw;
    // Generated body bytes ('a' to 'z', repeating) sent after Raw.
    std::size_t FillerBytes = 0;
    // The connection is closed once this many bytes have been sent.
    std::size_t CloseAfter = Never;
    // Once this many bytes have been sent, nothing is sent for Stall.
    std::size_t StallAfter = Never;
    std::chrono::milliseconds Stall{0};
    // When not zero, the bytes go out DripSize at a time with this pause
    // before each piece.
    std::chrono::milliseconds Drip{0};
    std::size_t DripSize = 1;

    // The bytes the response is made of: Raw and the filler.
    std::string Bytes() const;
    // True when the client can tell where the response ends (a Content-Length
    // or a chunked body, no "Connection: close", not cut short), so that the
    // connection can serve the next request.
    bool KeepsConnection() const;
};

struct TReceivedRequest {
    bool IsHttp = true;
    std::string RequestLine; // without the line end
    std::string Method;
    std::string Target;
    std::vector<std::pair<std::string, std::string>> Headers;
    // The bytes of the request head as they arrived (for something that is
    // not HTTP: whatever came first).
    std::string Raw;
    // When the head had been read.
    std::chrono::steady_clock::time_point Arrived{};

    // The value of the first header called name, in any letter case.
    std::optional<std::string> Header(std::string_view name) const;
};

class TCannedServer {
public:
    explicit TCannedServer(std::chrono::milliseconds lifetime = std::chrono::seconds(30),
                           std::string address = "127.0.0.1");
    ~TCannedServer();

    TCannedServer(const TCannedServer&) = delete;
    TCannedServer& operator=(const TCannedServer&) = delete;

    // Registers the response for a request target ("/page", "/a?b=c"); "*"
    // answers every target without a response of its own. May be called
    // while the server runs.
    void Add(const std::string& target, TCannedResponse response);
    // The same for one request method only ("HEAD"); it comes before a
    // response registered for every method.
    void Add(const std::string& method, const std::string& target, TCannedResponse response);
    // Responses given in turn to the requests for target; the last one then
    // answers every further request.
    void AddSequence(const std::string& target, std::vector<TCannedResponse> responses);

    // Starts listening; false when no socket could be opened.
    bool Start();
    // Stops serving and waits for every connection thread.
    void Stop();

    std::uint16_t Port() const noexcept { return FPort; }
    // "address:port" followed by target.
    std::string HostAndPort(std::string_view target = "") const;
    // "http://address:port" followed by target.
    std::string Url(std::string_view target) const;

    std::vector<TReceivedRequest> Requests() const;
    // Waits until at least count requests have arrived or timeout has passed.
    bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;
    // The most requests that were being answered at one time. A request
    // counts from the moment its head has been read until just before the last
    // bytes of its response go out, so the client had it in flight at least
    // that long.
    std::size_t PeakInFlight() const;
    // The connections accepted so far.
    std::size_t Connections() const;

    // A port on 127.0.0.1 that was bound and closed again, so that nothing
    // listens there.
    static std::uint16_t ClosedPort();

private:
    using Clock = std::chrono::steady_clock;

    void Listen();
    void Serve(int fd);
    // Reads one request head into head; bytes after it stay in pending.
    bool ReadHead(int fd, std::string& pending, std::string& head);
    // Sends one response; false when the connection is to be closed. inFlight
    // is cleared (see PeakInFlight) just before the last bytes go out.
    bool Respond(int fd, const TCannedResponse& response, bool& inFlight);
    bool SendAll(int fd, std::string_view bytes);
    bool Pause(std::chrono::milliseconds duration);
    // Waits until fd is ready for events; false on stop or at the deadline.
    bool WaitFor(int fd, short events, Clock::time_point until);
    void Record(TReceivedRequest request);
    // The response for a request, taking the next of a sequence.
    TCannedResponse ResponseFor(const TReceivedRequest& request);
    void LeaveFlight(bool& inFlight);

    struct TScript {
        std::vector<TCannedResponse> Responses;
        std::size_t Next = 0;
    };

    std::chrono::milliseconds FLifetime;
    std::string FAddress;
    Clock::time_point FDeadline;
    int FListen = -1;
    int FWake = -1; // readable once the server is stopping
    std::uint16_t FPort = 0;
    std::thread FListener;

    mutable std::mutex FLock;
    mutable std::condition_variable FArrived;
    // Keyed by target, or by method, a space and target.
    std::map<std::string, TScript> FResponses;
    std::size_t FInFlight = 0;
    std::size_t FPeakInFlight = 0;
    std::vector<TReceivedRequest> FRequests;
    std::vector<std::thread> FConnections;
    bool FStopped = false;
};
