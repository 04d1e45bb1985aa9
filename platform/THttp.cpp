#include "THttp.h"

#include "TBodyDecoder.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// How long one wait for socket activity may last; it bounds how late an abort
// or an idle timeout is noticed.
constexpr int kPollMillis = 50;

std::mutex gDefaultLock;
THttpOptions gDefaultOptions;

void InitCurlOnce() {
    // Once per process, and never cleaned up: another thread may still be in
    // a transfer when the process ends.
    static const CURLcode rc = curl_global_init(CURL_GLOBAL_DEFAULT);
    (void)rc;
}

// Connections, DNS results and TLS sessions shared by every transfer of the
// process, whatever its thread: a page and the objects after it reuse the
// connections to their host instead of opening one each. Made once, never
// cleaned up, like the library itself.
CURLSH* SharedCache() {
    static std::mutex locks[CURL_LOCK_DATA_LAST];
    static CURLSH* const share = [] {
        InitCurlOnce();
        CURLSH* s = curl_share_init();
        if (s == nullptr)
            return s;
        curl_share_setopt(s, CURLSHOPT_LOCKFUNC, +[](CURL*, curl_lock_data data, curl_lock_access, void*) {
            locks[data].lock();
        });
        curl_share_setopt(s, CURLSHOPT_UNLOCKFUNC,
                          +[](CURL*, curl_lock_data data, void*) { locks[data].unlock(); });
        for (curl_lock_data data : {CURL_LOCK_DATA_CONNECT, CURL_LOCK_DATA_DNS,
                                    CURL_LOCK_DATA_SSL_SESSION})
            curl_share_setopt(s, CURLSHOPT_SHARE, data);
        return s;
    }();
    return share;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
               return lower(x) == lower(y);
           });
}

// Browsers send spaces, control bytes and non-ASCII bytes of an address
// percent-encoded; the host is left alone (it is not a place for them).
std::string EncodeForRequest(std::string_view address) {
    std::size_t start = 0;
    const std::size_t scheme = address.find("://");
    if (scheme != std::string_view::npos)
        start = scheme + 3;
    start = address.find_first_of("/?#", start);
    if (start == std::string_view::npos)
        return std::string(address);

    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out(address.substr(0, start));
    for (const char ch : address.substr(start)) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7F) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        } else {
            out += ch;
        }
    }
    return out;
}

// The leading decimal number of a status text, or -1.
int StatusNumber(std::string_view text) {
    int value = 0;
    std::size_t i = 0;
    for (; i < text.size() && i < 3 && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10 + (text[i] - '0');
    return i == 0 ? -1 : value;
}

// The scheme, host and port an address leads to (the port even when it is the
// scheme's default), in lower case; empty when it cannot be read.
std::string OriginOf(const std::string& address) {
    CURLU* url = curl_url();
    std::string origin;
    char* scheme = nullptr;
    char* host = nullptr;
    char* port = nullptr;
    if (url != nullptr && curl_url_set(url, CURLUPART_URL, address.c_str(), 0) == CURLUE_OK &&
        curl_url_get(url, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
        curl_url_get(url, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
        curl_url_get(url, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK) {
        origin = std::string(scheme) + "://" + host + ":" + port;
        for (char& c : origin)
            c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    }
    curl_free(scheme);
    curl_free(host);
    curl_free(port);
    curl_url_cleanup(url);
    return origin;
}

// The hosts no proxy is used for: the environment's list (no_proxy, else
// NO_PROXY, as curl reads them) and 127.0.0.1, where the folder server
// listens. A proxy would see its own loopback there, or at best learn the
// folder's paths.
std::string NoProxyHosts() {
    const char* listed = std::getenv("no_proxy");
    if (listed == nullptr || *listed == '\0')
        listed = std::getenv("NO_PROXY");
    const std::string env = listed == nullptr ? std::string() : std::string(listed);
    if (env == "*")
        return env;
    return env.empty() ? std::string("127.0.0.1") : env + ",127.0.0.1";
}

// "300 s", or "1500 ms" for a time that is not whole seconds.
std::string Duration(std::chrono::milliseconds time) {
    if (time.count() % 1000 == 0)
        return std::to_string(time.count() / 1000) + " s";
    return std::to_string(time.count()) + " ms";
}

} // namespace

THttpOptions THttpOptions::Default() {
    std::lock_guard guard(gDefaultLock);
    return gDefaultOptions;
}

void THttpOptions::SetDefault(const THttpOptions& options) {
    std::lock_guard guard(gDefaultLock);
    gDefaultOptions = options;
}

// The state of one transfer. Curl's callbacks fill it while Drive runs
// curl_multi_perform on the owner's thread.
struct THttpRequest::TTransfer {
    CURL* Easy = nullptr;
    CURLM* Multi = nullptr;
    bool Added = false;
    const std::atomic<bool>* Abort = nullptr;
    std::chrono::milliseconds IdleTimeout{};
    Clock::time_point LastActivity = Clock::now();
    std::chrono::milliseconds TotalTimeout{};
    Clock::time_point Deadline = Clock::time_point::max();

    // Headers of the response being received. A status line starts a new
    // response, so only the final response's headers remain.
    std::string StatusText;
    std::vector<std::pair<std::string, std::string>> Headers;
    bool SeenStatusLine = false;
    bool HeadersComplete = false;

    std::string FinalUrl;

    // Body bytes received but not yet handed out (or decoded).
    std::string Pending;
    std::size_t PendingPos = 0;
    // Set once the final response's headers are in, for an encoded body.
    std::unique_ptr<TBodyDecoder> Decoder;
    bool DecodingOver = false;

    bool Done = false;
    THttpFailure Failure = THttpFailure::None;
    std::string ErrorText;
    char ErrorBuffer[CURL_ERROR_SIZE] = {};

    ~TTransfer() {
        if (Added)
            curl_multi_remove_handle(Multi, Easy);
        if (Easy != nullptr)
            curl_easy_cleanup(Easy);
        if (Multi != nullptr)
            curl_multi_cleanup(Multi);
    }

    void Fail(THttpFailure failure, std::string text) {
        Done = true;
        Failure = failure;
        ErrorText = std::move(text);
    }

    bool HasHeader(std::string_view name) const {
        return std::any_of(Headers.begin(), Headers.end(),
                           [&](const auto& h) { return EqualsNoCase(h.first, name); });
    }

    void OnHeaderLine(std::string_view line) {
        LastActivity = Clock::now();
        if (HeadersComplete)
            return; // trailers of a chunked body
        if (line.substr(0, 5) == "HTTP/") {
            Headers.clear();
            SeenStatusLine = true;
            std::string_view rest = line.substr(
                line.find(' ') == std::string_view::npos ? line.size() : line.find(' ') + 1);
            rest = Trim(rest);
            StatusText = std::string(rest.substr(0, rest.find(' ')));
            return;
        }
        const std::string_view trimmed = Trim(line);
        if (trimmed.empty()) {
            // The end of one response's headers. An interim response, or a
            // redirect that curl goes on to follow, is not the final one.
            const int status = StatusNumber(StatusText);
            const bool interim = status >= 100 && status < 200;
            const bool redirect = status >= 300 && status < 400 && HasHeader("Location");
            if (!interim && !redirect)
                HeadersComplete = true;
            return;
        }
        if (IsBlank(line.front())) {
            if (!Headers.empty()) {
                Headers.back().second += ' ';
                Headers.back().second += trimmed;
            }
            return;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            return;
        Headers.emplace_back(std::string(Trim(line.substr(0, colon))),
                             std::string(Trim(line.substr(colon + 1))));
    }

    void OnBody(const char* data, std::size_t size) {
        LastActivity = Clock::now();
        HeadersComplete = true; // curl only hands out the final response's body
        Pending.append(data, size);
    }

    std::size_t PendingSize() const { return Pending.size() - PendingPos; }

    void TakePending(std::size_t count) {
        PendingPos += count;
        if (PendingPos == Pending.size()) {
            Pending.clear();
            PendingPos = 0;
        }
    }

    // Read for an encoded body: decodes the pending bytes into buffer,
    // receiving more as needed. Data that ends before its compressed stream
    // does is a failure: the body is cut short.
    bool ReadDecoded(char* buffer, std::size_t size, std::size_t& received) {
        while (!DecodingOver) {
            std::size_t consumed = 0;
            const TBodyDecoder::TStep step = Decoder->Decode(
                std::string_view(Pending).substr(PendingPos), consumed, buffer, size, received);
            TakePending(consumed);
            if (step == TBodyDecoder::TStep::Corrupt) {
                DecodingOver = true;
                Fail(THttpFailure::Transfer,
                     "the " + Decoder->Name() + " body cannot be decoded: " + Decoder->ErrorText());
                return false;
            }
            DecodingOver = step == TBodyDecoder::TStep::End;
            if (received > 0)
                return true;
            if (consumed > 0 || DecodingOver)
                continue;
            const std::size_t waiting = PendingSize();
            Drive([this, waiting] { return PendingSize() > waiting; });
            if (PendingSize() == waiting) {
                if (Failure == THttpFailure::None)
                    Fail(THttpFailure::Transfer,
                         "the " + Decoder->Name() + " body ends before its compressed data does");
                return false;
            }
        }
        return Failure == THttpFailure::None;
    }

    static std::size_t HeaderCallback(char* data, std::size_t size, std::size_t count, void* user) {
        static_cast<TTransfer*>(user)->OnHeaderLine(std::string_view(data, size * count));
        return size * count;
    }

    static std::size_t WriteCallback(char* data, std::size_t size, std::size_t count, void* user) {
        static_cast<TTransfer*>(user)->OnBody(data, size * count);
        return size * count;
    }

    void CollectDone() {
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(Multi, &left)) {
            if (msg->msg != CURLMSG_DONE)
                continue;
            const CURLcode rc = msg->data.result;
            if (rc == CURLE_OK) {
                Done = true;
                if (SeenStatusLine)
                    HeadersComplete = true;
                continue;
            }
            const THttpFailure failure =
                rc == CURLE_OPERATION_TIMEDOUT ? THttpFailure::TimedOut : THttpFailure::Transfer;
            Fail(failure, ErrorBuffer[0] != '\0' ? ErrorBuffer : curl_easy_strerror(rc));
        }
    }

    // Runs the transfer until ready() holds or the transfer has ended.
    template <typename Ready> void Drive(Ready ready) {
        LastActivity = Clock::now();
        while (!Done && !ready()) {
            if (Abort != nullptr && Abort->load(std::memory_order_acquire)) {
                Fail(THttpFailure::Aborted, "aborted");
                break;
            }
            if (Clock::now() >= Deadline) {
                Fail(THttpFailure::Overdue, "took longer than " + Duration(TotalTimeout));
                break;
            }
            if (Clock::now() - LastActivity >= IdleTimeout) {
                Fail(THttpFailure::TimedOut,
                     "nothing received for " + std::to_string(IdleTimeout.count()) + " ms");
                break;
            }
            int running = 0;
            const CURLMcode mc = curl_multi_perform(Multi, &running);
            if (mc != CURLM_OK) {
                Fail(THttpFailure::Transfer, curl_multi_strerror(mc));
                break;
            }
            CollectDone();
            if (Done || ready())
                break;
            curl_multi_poll(Multi, nullptr, 0, kPollMillis, nullptr);
        }
    }

    bool Start(const std::string& url, const std::string& agent, const THttpOptions& options) {
        Easy = curl_easy_init();
        Multi = curl_multi_init();
        if (Easy == nullptr || Multi == nullptr) {
            Fail(THttpFailure::Transfer, "cannot create a transfer");
            return false;
        }
        curl_easy_setopt(Easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(Easy, CURLOPT_USERAGENT, agent.c_str());
        curl_easy_setopt(Easy, CURLOPT_NOSIGNAL, 1L);
        if (CURLSH* share = SharedCache())
            curl_easy_setopt(Easy, CURLOPT_SHARE, share);
        curl_easy_setopt(Easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(Easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(Easy, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(Easy, CURLOPT_MAXREDIRS, options.MaxRedirects);
        curl_easy_setopt(Easy, CURLOPT_CONNECTTIMEOUT_MS,
                         static_cast<long>(options.ConnectTimeout.count()));
        curl_easy_setopt(Easy, CURLOPT_HEADERFUNCTION, &TTransfer::HeaderCallback);
        curl_easy_setopt(Easy, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(Easy, CURLOPT_WRITEFUNCTION, &TTransfer::WriteCallback);
        curl_easy_setopt(Easy, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(Easy, CURLOPT_ERRORBUFFER, ErrorBuffer);
        curl_easy_setopt(Easy, CURLOPT_NOPROXY, NoProxyHosts().c_str());
        // libcurl keeps the login from the hosts that redirects lead to.
        const THttpLogin& login = options.Login;
        if (!login.Address.empty() && !OriginOf(url).empty() &&
            OriginOf(url) == OriginOf(login.Address)) {
            curl_easy_setopt(Easy, CURLOPT_USERNAME, login.User.c_str());
            curl_easy_setopt(Easy, CURLOPT_PASSWORD, login.Password.c_str());
        }
        if (curl_multi_add_handle(Multi, Easy) != CURLM_OK) {
            Fail(THttpFailure::Transfer, "cannot start the transfer");
            return false;
        }
        Added = true;
        return true;
    }
};

THttpSession::THttpSession(std::string agent, const std::atomic<bool>* abort)
    : THttpSession(std::move(agent), THttpOptions::Default(), abort) {}

THttpSession::THttpSession(std::string agent, const THttpOptions& options,
                           const std::atomic<bool>* abort)
    : FAgent(std::move(agent)), FOptions(options), FAbort(abort) {
    InitCurlOnce();
}

std::unique_ptr<THttpRequest> THttpSession::OpenUrl(const std::string& address) const {
    auto transfer = std::make_unique<THttpRequest::TTransfer>();
    transfer->Abort = FAbort;
    transfer->IdleTimeout = FOptions.IdleTimeout;
    if (FOptions.TotalTimeout.count() > 0) {
        transfer->TotalTimeout = FOptions.TotalTimeout;
        transfer->Deadline = Clock::now() + FOptions.TotalTimeout;
    }
    transfer->FinalUrl = address;
    if (transfer->Start(EncodeForRequest(address), FAgent, FOptions)) {
        THttpRequest::TTransfer& t = *transfer;
        t.Drive([&t] { return t.HeadersComplete; });
        long redirects = 0;
        char* effective = nullptr;
        if (curl_easy_getinfo(t.Easy, CURLINFO_REDIRECT_COUNT, &redirects) == CURLE_OK &&
            redirects > 0 &&
            curl_easy_getinfo(t.Easy, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK &&
            effective != nullptr)
            t.FinalUrl = effective;
        // Every Content-Encoding line, in order, as one list of layers.
        std::string encodings;
        for (const auto& [name, value] : t.Headers)
            if (EqualsNoCase(name, "Content-Encoding"))
                encodings += (encodings.empty() ? "" : ",") + value;
        if (t.HeadersComplete && !encodings.empty())
            t.Decoder = TBodyDecoder::For(encodings);
    }
    return std::unique_ptr<THttpRequest>(new THttpRequest(std::move(transfer)));
}

THttpRequest::THttpRequest(std::unique_ptr<TTransfer> transfer) : FTransfer(std::move(transfer)) {}

THttpRequest::~THttpRequest() = default;

bool THttpRequest::Opened() const noexcept {
    return FTransfer && FTransfer->HeadersComplete;
}

THttpQuery THttpRequest::QueryStatusCode(std::string& text) const {
    if (!Opened())
        return THttpQuery::Failed;
    text = FTransfer->StatusText;
    return THttpQuery::Ok;
}

THttpQuery THttpRequest::QueryHeader(std::string_view name, std::string& value) const {
    if (!Opened())
        return THttpQuery::Failed;
    for (const auto& [key, text] : FTransfer->Headers) {
        if (EqualsNoCase(key, name)) {
            value = text;
            return THttpQuery::Ok;
        }
    }
    return THttpQuery::Missing;
}

const std::string& THttpRequest::FinalUrl() const {
    static const std::string kNone;
    return FTransfer ? FTransfer->FinalUrl : kNone;
}

bool THttpRequest::Decoded() const noexcept {
    return FTransfer && FTransfer->Decoder;
}

bool THttpRequest::Read(char* buffer, std::size_t size, std::size_t& received) {
    received = 0;
    if (!Opened())
        return false;
    TTransfer& t = *FTransfer;
    if (size == 0)
        return t.Failure == THttpFailure::None;
    if (t.Decoder)
        return t.ReadDecoded(buffer, size, received);
    if (t.PendingPos == t.Pending.size())
        t.Drive([&t] { return t.PendingPos < t.Pending.size(); });
    if (t.PendingPos < t.Pending.size()) {
        received = std::min(size, t.Pending.size() - t.PendingPos);
        std::memcpy(buffer, t.Pending.data() + t.PendingPos, received);
        t.PendingPos += received;
        if (t.PendingPos == t.Pending.size()) {
            t.Pending.clear();
            t.PendingPos = 0;
        }
        return true;
    }
    return t.Failure == THttpFailure::None;
}

void THttpRequest::Close() noexcept {
    FTransfer.reset();
}

THttpFailure THttpRequest::Failure() const noexcept {
    return FTransfer ? FTransfer->Failure : THttpFailure::Transfer;
}

std::string THttpRequest::ErrorText() const {
    return FTransfer ? FTransfer->ErrorText : "closed";
}
