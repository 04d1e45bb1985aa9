// What an ended attempt leads to: the answer, or another attempt (a redirect,
// a retry, a GET for a refused HEAD, a wait the server asked for).
#include "TTransferLoop.h"

#include "HttpTerms.h"

#include <curl/curl.h>

#include <cerrno>
#include <ctime>

using namespace HttpTerms;

namespace {

// Retry-After rounds per request, whatever their waits add up to.
constexpr int kMaxRateRounds = 10;

bool IsRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool IsTls(CURLcode code) {
    switch (code) {
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CLIENTCERT:
        return true;
    default:
        return false;
    }
}

std::string RetriesText(int retries) {
    return "after " + std::to_string(retries) + (retries == 1 ? " retry" : " retries");
}

} // namespace

void TTransferLoop::AttemptEnded(TTransfer& t, int code) {
    const Clock::time_point now = Clock::now();
    Detach(t);
    if (t.TooLarge()) {
        const bool page = t.Request().Purpose == TRequest::TPurpose::Page;
        Finish(t, TFailure::TooLarge,
               (page ? "page larger than " : "larger than ") + Bytes(t.Request().BodyCap));
        return;
    }
    if (code != CURLE_OK && !(t.EndedEarly() && code == CURLE_WRITE_ERROR)) {
        TOutcome outcome = Classify(t, code);
        if (outcome.HeadRefused) {
            t.FallBackToGet();
            Enqueue(t, true);
        } else if (!outcome.Transient || !RetryLater(t, now)) {
            Finish(t, outcome.Failure, std::move(outcome.Reason));
        }
        return;
    }
    Answered(t, now);
}

void TTransferLoop::Answered(TTransfer& t, Clock::time_point now) {
    const int status = t.Status();
    if (IsRedirect(status)) {
        const auto location = t.Header("Location");
        std::string next = location ? Resolve(t.Address(), *location) : std::string();
        if (!next.empty()) {
            Redirect(t, std::move(next));
            return;
        }
    }
    if (t.Method() == TRequest::TMethod::Head && (status == 405 || status == 501)) {
        t.FallBackToGet();
        Enqueue(t, true);
        return;
    }
    if (status == 429 || status == 503) {
        const auto value = t.Header("Retry-After");
        if (const auto wait = value ? RetryAfter(*value, std::time(nullptr)) : std::nullopt) {
            // Nothing more goes to the host until then; this request is the
            // first to go when the time is up.
            const auto total = t.RateWaited + std::chrono::milliseconds(*wait);
            if (total > FOptions.MaxWait || t.RateRounds >= kMaxRateRounds ||
                now + *wait >= *t.Deadline) {
                Finish(t, TFailure::RateLimited, "rate limited");
                return;
            }
            THost& host = FHosts[t.Host];
            host.BlockedUntil = std::max(host.BlockedUntil, now + *wait);
            t.RateWaited = total;
            ++t.RateRounds;
            ++t.Answer().Retries;
            Enqueue(t, true);
            return;
        }
    }
    if (status == 429 || status == 502 || status == 503 || status == 504) {
        if (!RetryLater(t, now)) {
            if (status == 429)
                Finish(t, TFailure::RateLimited, "rate limited");
            else
                Finish(t, TFailure::None, {});
        }
        return;
    }
    Finish(t, TFailure::None, {});
}

TTransferLoop::TOutcome TTransferLoop::Classify(const TTransfer& t, int code) const {
    const auto rc = static_cast<CURLcode>(code);
    std::string text = t.ErrorText();
    if (text.empty())
        text = curl_easy_strerror(rc);
    const bool head = t.Method() == TRequest::TMethod::Head;
    switch (rc) {
    case CURLE_COULDNT_CONNECT: {
        long error = 0;
        curl_easy_getinfo(t.Easy(), CURLINFO_OS_ERRNO, &error);
        if (error == ECONNREFUSED)
            return {TFailure::ConnectionRefused, "connection refused"};
        return {TFailure::ConnectionRefused, "cannot connect: " + text};
    }
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return {TFailure::HostNotFound, "host not found"};
    case CURLE_OPERATION_TIMEDOUT:
        // Only the connection has a limit of curl's own.
        return {TFailure::TimedOut, "timed out after " + Duration(t.Request().ConnectTimeout),
                true};
    case CURLE_GOT_NOTHING:
        return {TFailure::CutShort, "connection closed without an answer", true, head};
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
        return {TFailure::CutShort, "connection reset", true, head && t.Status() < 0};
    case CURLE_PARTIAL_FILE:
        return {TFailure::CutShort, "the answer was cut short"};
    case CURLE_URL_MALFORMAT:
        return {TFailure::InvalidAddress, "invalid address"};
    case CURLE_UNSUPPORTED_PROTOCOL:
        // Also a response in an HTTP version curl does not speak.
        if (!t.Address().starts_with("http://") && !t.Address().starts_with("https://"))
            return {TFailure::InvalidAddress, "invalid address"};
        return {TFailure::Other, text};
    default:
        if (IsTls(rc))
            return {TFailure::Tls, "TLS: " + text};
        return {TFailure::Other, text};
    }
}

bool TTransferLoop::RetryLater(TTransfer& t, Clock::time_point now) {
    if (t.TransientRetries >= FOptions.Retries)
        return false;
    const auto& waits = FOptions.RetryWaits;
    const auto wait = waits.empty()
                          ? std::chrono::milliseconds(0)
                          : waits[std::min<std::size_t>(t.TransientRetries, waits.size() - 1)];
    if (now + wait >= *t.Deadline)
        return false;
    ++t.TransientRetries;
    ++t.Answer().Retries;
    t.State = TTransfer::TState::Sleeping;
    FSleeping.emplace(now + wait, &t);
    return true;
}

void TTransferLoop::Redirect(TTransfer& t, std::string next) {
    t.Answer().Redirects.push_back({t.Status(), next});
    if (!t.MoveTo(std::move(next))) {
        Finish(t, TFailure::RedirectLoop, "redirect loop");
        return;
    }
    if (static_cast<int>(t.Answer().Redirects.size()) > FOptions.MaxRedirects) {
        Finish(t, TFailure::RedirectLoop,
               "more than " + std::to_string(FOptions.MaxRedirects) + " redirects");
        return;
    }
    t.Host = HostKey(t.Address());
    Enqueue(t, true);
}

void TTransferLoop::Finish(TTransfer& t, TFailure failure, std::string reason) {
    TAnswer answer = std::move(t.Answer());
    answer.Failure = failure;
    answer.FinalAddress = t.Address();
    answer.Method = t.Method();
    answer.Status = t.Status();
    answer.StatusText = t.StatusText();
    answer.StatusPhrase = t.StatusPhrase();
    answer.ContentType = t.Header("Content-Type").value_or(std::string());
    answer.DeclaredLength = t.DeclaredLength().value_or(-1);
    const bool failed = failure != TFailure::None || answer.Status < 0 || answer.Status >= 400;
    if (answer.Retries > 0 && failed && failure != TFailure::RateLimited &&
        failure != TFailure::Aborted)
        reason = reason.empty() ? RetriesText(answer.Retries)
                                : reason + ", " + RetriesText(answer.Retries);
    answer.Reason = std::move(reason);
    // Finished transfers are never in the multi handle: the handle can serve
    // the next one.
    if (CURL* easy = t.ReleaseEasy()) {
        if (FIdleEasy.size() < static_cast<std::size_t>(FOptions.Total)) {
            curl_easy_reset(easy);
            FIdleEasy.push_back(easy);
        } else {
            curl_easy_cleanup(easy);
        }
    }
    FTransfers.erase(&t);
    FDeliver(std::move(answer));
}
