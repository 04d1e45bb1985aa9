#include "TTransfer.h"

#include "HttpTerms.h"
#include "common/MediaType.h"

#include <curl/curl.h>

#include <algorithm>
#include <utility>

using namespace HttpTerms;

namespace {

// A response whose body is not wanted is still read when it declares at most
// this much, so that its connection stays open for the next request.
constexpr std::int64_t kReadAnyway = 64 * 1024;
// Header lines kept per response; the rest are ignored.
constexpr std::size_t kMaxHeaders = 256;

bool IsRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Statuses the worker answers by asking again, whose body is of no use.
bool AsksAgain(int status, TRequest::TMethod method) {
    return status == 429 || status == 502 || status == 503 || status == 504 ||
           (method == TRequest::TMethod::Head && (status == 405 || status == 501));
}

} // namespace

TTransfer::TTransfer(TRequest request, std::uint64_t serial, std::string address)
    : FRequest(std::move(request)), FSerial(serial), FAddress(std::move(address)),
      FMethod(FRequest.Method), FBody(FRequest.Body) {
    FAnswer.Id = FRequest.Id;
    if (FMethod == TRequest::TMethod::Head)
        FBody = TRequest::TBody::Skip;
}

TTransfer::~TTransfer() {
    if (FEasy != nullptr)
        curl_easy_cleanup(FEasy);
}

bool TTransfer::MoveTo(std::string address) {
    // The addresses asked are written down at the first redirect: most
    // requests have none.
    if (FAsked.empty())
        FAsked.push_back(Normal(FAddress));
    std::string normal = Normal(address);
    if (std::find(FAsked.begin(), FAsked.end(), normal) != FAsked.end())
        return false;
    FAsked.push_back(std::move(normal));
    FAddress = std::move(address);
    return true;
}

void TTransfer::FallBackToGet() {
    FMethod = TRequest::TMethod::Get;
    FBody = TRequest::TBody::Skip;
}

void TTransfer::AdoptEasy(CURL* easy) noexcept {
    if (FEasy == nullptr)
        FEasy = easy;
    else
        curl_easy_cleanup(easy);
}

CURL* TTransfer::ReleaseEasy() noexcept {
    return std::exchange(FEasy, nullptr);
}

CURL* TTransfer::Prepare(const TSetup& setup, Clock::time_point now) {
    if (FEasy == nullptr)
        FEasy = curl_easy_init();
    if (!FError)
        FError = std::make_unique<char[]>(CURL_ERROR_SIZE);
    if (FEasy == nullptr)
        return nullptr;
    FError[0] = '\0';
    FLastActivity = now;
    FStatus = -1;
    FStatusText.clear();
    FStatusPhrase.clear();
    FHeaders.clear();
    FHeadersEnded = FEndedEarly = FTooLarge = FKeep = false;
    FAnswer.Body.clear();
    FAnswer.BodyBytes = 0;
    FAnswer.BodyRead = false;
    FAnswer.Method = FMethod;

    CURL* e = FEasy;
    curl_easy_setopt(e, CURLOPT_URL, FAddress.c_str());
    curl_easy_setopt(e, CURLOPT_PRIVATE, this);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
#if CURL_AT_LEAST_VERSION(7, 87, 0)
    // A stop does not wait for a name lookup in flight.
    curl_easy_setopt(e, CURLOPT_QUICK_EXIT, 1L);
#endif
    curl_easy_setopt(e, CURLOPT_USERAGENT, setup.UserAgent->c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    if (FMethod == TRequest::TMethod::Head)
        curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    else
        curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(std::max<std::int64_t>(FRequest.ConnectTimeout.count(), 1)));
    // Compressed bodies are not asked for (the header goes), but one sent
    // anyway is decoded.
    curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, setup.Headers);
    curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(e, CURLOPT_NOPROXY, setup.NoProxy ? setup.NoProxy->c_str() : nullptr);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &TTransfer::OnHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &TTransfer::OnBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, FError.get());
    const TRequest::TLogin& login = FRequest.Login;
    const bool withLogin = !login.Address.empty() && !Origin(FAddress).empty() &&
                           Origin(FAddress) == Origin(login.Address);
    curl_easy_setopt(e, CURLOPT_USERNAME, withLogin ? login.User.c_str() : nullptr);
    curl_easy_setopt(e, CURLOPT_PASSWORD, withLogin ? login.Password.c_str() : nullptr);
    return e;
}

std::optional<std::string> TTransfer::Header(std::string_view name) const {
    for (const auto& [key, value] : FHeaders) {
        if (EqualsNoCase(key, name))
            return value;
    }
    return std::nullopt;
}

std::optional<std::int64_t> TTransfer::DeclaredLength() const {
    // A length of compressed bytes is not the length of the body as read.
    const auto encoding = Header("Content-Encoding");
    if (encoding && !Trim(*encoding).empty() && !EqualsNoCase(Trim(*encoding), "identity"))
        return std::nullopt;
    const auto length = Header("Content-Length");
    return length ? Length(*length) : std::nullopt;
}

std::string TTransfer::ErrorText() const {
    return FError && FError[0] != '\0' ? std::string(FError.get()) : std::string();
}

std::size_t TTransfer::OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
    const std::size_t n = size * count;
    return static_cast<TTransfer*>(self)->HeaderLine(std::string_view(data, n)) ? n : 0;
}

std::size_t TTransfer::OnBody(char* data, std::size_t size, std::size_t count, void* self) {
    const std::size_t n = size * count;
    return static_cast<TTransfer*>(self)->BodyBytes(data, n) ? n : 0;
}

bool TTransfer::HeaderLine(std::string_view line) {
    FLastActivity = Clock::now();
    if (FHeadersEnded)
        return true; // trailers
    if (line.substr(0, 5) == "HTTP/") {
        // A new response (after an interim one): only its headers count.
        FHeaders.clear();
        std::string_view rest = line.substr(std::min(line.find(' '), line.size()));
        rest = Trim(rest);
        FStatusText = std::string(rest.substr(0, rest.find(' ')));
        FStatusPhrase = std::string(Trim(rest.substr(FStatusText.size())).substr(0, 100));
        const auto code = Length(FStatusText);
        FStatus = FStatusText.size() == 3 && code ? static_cast<int>(*code) : -1;
        return true;
    }
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty())
        return FStatus >= 100 && FStatus < 200 ? true : HeadersEnded();
    if (line.front() == ' ' || line.front() == '\t') {
        if (!FHeaders.empty())
            (FHeaders.back().second += ' ') += trimmed;
        return true;
    }
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos && FHeaders.size() < kMaxHeaders)
        FHeaders.emplace_back(std::string(Trim(line.substr(0, colon))),
                              std::string(Trim(line.substr(colon + 1))));
    return true;
}

// Decides what becomes of the body; false ends the attempt here.
bool TTransfer::HeadersEnded() {
    FHeadersEnded = true;
    if (FMethod == TRequest::TMethod::Head)
        return true;
    const auto declared = DeclaredLength();
    const bool redirect = IsRedirect(FStatus) && Header("Location");
    TRequest::TBody body = FBody;
    if (body == TRequest::TBody::Keep && FRequest.KeepHtmlOnly &&
        !IsHtmlContentType(Header("Content-Type").value_or(std::string())))
        body = TRequest::TBody::Count;
    const bool wanted = !redirect && !AsksAgain(FStatus, FMethod) &&
                        (body == TRequest::TBody::Keep || (body == TRequest::TBody::Count && !declared));
    if (wanted) {
        // A body past the cap keeps (or counts) its first BodyCap bytes.
        FKeep = body == TRequest::TBody::Keep;
        FAnswer.BodyRead = true;
        return true;
    }
    if (declared && *declared <= kReadAnyway)
        return true; // read and dropped
    FEndedEarly = true;
    return false;
}

bool TTransfer::BodyBytes(const char* data, std::size_t size) {
    FLastActivity = Clock::now();
    if (!FAnswer.BodyRead)
        return true; // dropped
    const std::int64_t room = FRequest.BodyCap - FAnswer.BodyBytes;
    const auto taken = static_cast<std::size_t>(std::min<std::int64_t>(room, size));
    if (FKeep)
        FAnswer.Body.append(data, taken);
    FAnswer.BodyBytes += static_cast<std::int64_t>(taken);
    if (taken < size) {
        FTooLarge = true;
        return false;
    }
    return true;
}
