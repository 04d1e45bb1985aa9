#include "TAnswerRecord.h"

#include "TAddressLogin.h"
#include "common/MediaType.h"

#include <algorithm>
#include <limits>

namespace {

std::int32_t Clamp(std::int64_t size) {
    return static_cast<std::int32_t>(
        std::min<std::int64_t>(size, std::numeric_limits<std::int32_t>::max()));
}

// The standard reason phrases.
std::string_view StandardPhrase(int status) {
    static constexpr std::pair<int, std::string_view> Phrases[] = {
        {100, "Continue"},
        {101, "Switching Protocols"},
        {200, "OK"},
        {201, "Created"},
        {202, "Accepted"},
        {203, "Non-Authoritative Information"},
        {204, "No Content"},
        {205, "Reset Content"},
        {206, "Partial Content"},
        {300, "Multiple Choices"},
        {301, "Moved Permanently"},
        {302, "Found"},
        {303, "See Other"},
        {304, "Not Modified"},
        {305, "Use Proxy"},
        {307, "Temporary Redirect"},
        {308, "Permanent Redirect"},
        {400, "Bad Request"},
        {401, "Unauthorized"},
        {402, "Payment Required"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {405, "Method Not Allowed"},
        {406, "Not Acceptable"},
        {407, "Proxy Authentication Required"},
        {408, "Request Timeout"},
        {409, "Conflict"},
        {410, "Gone"},
        {411, "Length Required"},
        {412, "Precondition Failed"},
        {413, "Content Too Large"},
        {414, "URI Too Long"},
        {415, "Unsupported Media Type"},
        {416, "Range Not Satisfiable"},
        {417, "Expectation Failed"},
        {421, "Misdirected Request"},
        {422, "Unprocessable Content"},
        {425, "Too Early"},
        {426, "Upgrade Required"},
        {428, "Precondition Required"},
        {429, "Too Many Requests"},
        {431, "Request Header Fields Too Large"},
        {451, "Unavailable For Legal Reasons"},
        {500, "Internal Server Error"},
        {501, "Not Implemented"},
        {502, "Bad Gateway"},
        {503, "Service Unavailable"},
        {504, "Gateway Timeout"},
        {505, "HTTP Version Not Supported"},
        {511, "Network Authentication Required"},
    };
    for (const auto& [code, phrase] : Phrases)
        if (code == status)
            return phrase;
    return {};
}

// The transfer's error, as the scheduler put it.
std::string ErrorReason(const TAnswer& answer) {
    if (!answer.Reason.empty())
        return answer.Reason;
    if (answer.Status < 0 && !answer.StatusText.empty())
        return "the status \"" + answer.StatusText + "\" is not a number";
    return "no response";
}

} // namespace

TVerdict TAnswerRecord::Verdict(const TAnswer& answer) {
    switch (answer.Failure) {
    case TFailure::ConnectionRefused:
    case TFailure::HostNotFound:
    case TFailure::RedirectLoop:
    case TFailure::InvalidAddress:
        return TVerdict::Broken;
    case TFailure::TimedOut:
    case TFailure::Tls:
    case TFailure::CutShort:
    case TFailure::Aborted:
    case TFailure::RateLimited:
    case TFailure::Other:
        return TVerdict::Unverifiable;
    case TFailure::TooLarge: // the status still tells
    case TFailure::None:
        break;
    }
    const int status = answer.Status;
    if (status < 0)
        return TVerdict::Unverifiable;
    // A login wall, a bot wall, a proxy, a rate limit or a request timeout
    // says nothing of the address; neither does a server error.
    if (status == 401 || status == 403 || status == 407 || status == 408 || status == 429 ||
        status >= 500)
        return TVerdict::Unverifiable;
    if (status >= 400)
        return TVerdict::Broken;
    for (const TRedirectHop& hop : answer.Redirects)
        if (hop.Status == 301 || hop.Status == 308)
            return TVerdict::Redirected;
    return TVerdict::Fine;
}

bool TAnswerRecord::MayPass(const TAnswer& answer) {
    if (Verdict(answer) != TVerdict::Unverifiable)
        return false;
    switch (answer.Failure) {
    case TFailure::TimedOut:
    case TFailure::CutShort:
    case TFailure::RateLimited:
        return true;
    case TFailure::None:
    case TFailure::TooLarge:
        return answer.Status == 408 || answer.Status == 429 || answer.Status >= 500;
    default:
        return false;
    }
}

int TAnswerRecord::PermanentRedirect(const TAnswer& answer) {
    for (const TRedirectHop& hop : answer.Redirects)
        if (hop.Status == 301 || hop.Status == 308)
            return hop.Status;
    return 0;
}

_TContent_Struct TAnswerRecord::NotFound() {
    return {"Not Found", 404, -1};
}

std::string TAnswerRecord::StatusReason(int status, std::string_view phrase) {
    const std::string_view standard = StandardPhrase(status);
    if (!standard.empty())
        phrase = standard;
    std::string reason = std::to_string(status);
    if (!phrase.empty())
        reason += ' ';
    // The server's words, without what a terminal would run.
    for (const char c : phrase)
        reason += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
    return reason;
}

std::string TAnswerRecord::Reason(const TAnswer& answer) {
    switch (answer.Failure) {
    case TFailure::CutShort:
    case TFailure::TooLarge:
    case TFailure::RateLimited:
    case TFailure::None:
        break; // the status, when there is one, tells with the scheduler's words
    default:
        return ErrorReason(answer);
    }
    if (answer.Status < 0)
        return ErrorReason(answer);
    // A login in a redirect's target goes no further.
    std::string landed = answer.FinalAddress;
    TAddressLogin::Strip(landed);
    std::string reason;
    if (!answer.Redirects.empty() && answer.Status < 400 && answer.Failure == TFailure::None) {
        // The redirect to fix first: a permanent one, else the first.
        const auto permanent = std::find_if(
            answer.Redirects.begin(), answer.Redirects.end(),
            [](const TRedirectHop& hop) { return hop.Status == 301 || hop.Status == 308; });
        const TRedirectHop& hop =
            permanent != answer.Redirects.end() ? *permanent : answer.Redirects.front();
        reason = StatusReason(hop.Status) + " to " + landed;
    } else {
        reason = StatusReason(answer.Status, answer.StatusPhrase);
        if (!answer.Redirects.empty())
            reason += " at " + landed;
    }
    if (!answer.Reason.empty())
        reason += ", " + answer.Reason;
    return reason;
}

TAnswerRecord::TPage TAnswerRecord::Page(const TAnswer& answer) {
    TPage page;
    const bool cutAtCap = answer.Failure == TFailure::TooLarge && answer.Status >= 0;
    // Another type than HTML is only counted: what came of it is its size.
    const bool countedCut = answer.Failure == TFailure::CutShort && answer.Status >= 0 &&
                            answer.BodyRead && answer.Body.empty() && answer.BodyBytes >= 0 &&
                            !IsHtmlContentType(answer.ContentType);
    page.Reason = Reason(answer);
    if ((answer.Failure != TFailure::None && !cutAtCap && !countedCut) || answer.Status < 0) {
        page.Failed = true;
        return page;
    }
    page.Header.ContentType = answer.ContentType;
    page.Header.StatusCode = answer.Status;
    page.Header.ContentLength = Clamp(std::max<std::int64_t>(answer.Size(), 0));
    return page;
}

_TContent_Struct TAnswerRecord::Object(const TAnswer& answer, std::string& reason) {
    reason = Reason(answer);
    // A body cut short counts what came.
    const bool cut = answer.Failure == TFailure::CutShort && answer.Status >= 0 && answer.BodyRead;
    if ((answer.Failure != TFailure::None && !cut) || answer.Status < 0 || answer.Status == 404) {
        _TContent_Struct result = NotFound();
        // A body that went on too long, or stopped, says how far it came.
        if (answer.BodyRead && answer.Failure != TFailure::Aborted)
            result.ContentLength = Clamp(answer.BodyBytes);
        return result;
    }
    return {answer.ContentType, answer.Status,
            Clamp(answer.DeclaredLength >= 0 ? answer.DeclaredLength : answer.BodyBytes)};
}

_TContent_Struct TAnswerRecord::External(const TAnswer& answer, std::string& reason) {
    if (answer.Failure == TFailure::RateLimited) {
        reason = Reason(answer);
        return {"", 0, -1};
    }
    return Object(answer, reason);
}
