#include "TAnswerRecord.h"

#include "common/MediaType.h"

#include <algorithm>
#include <limits>

namespace {

std::int32_t Clamp(std::int64_t size) {
    return static_cast<std::int32_t>(
        std::min<std::int64_t>(size, std::numeric_limits<std::int32_t>::max()));
}

// Why there is no usable status: the scheduler's words, or the status line's.
std::string NoStatusReason(const TAnswer& answer) {
    if (!answer.Reason.empty())
        return answer.Reason;
    if (answer.StatusText.empty())
        return "no response";
    return "the status \"" + answer.StatusText + "\" is not a number";
}

// The status's reason, with what the scheduler adds ("after 2 retries").
std::string BrokenReason(const TAnswer& answer) {
    std::string reason = TAnswerRecord::StatusReason(answer.Status);
    if (!answer.Reason.empty())
        reason += ", " + answer.Reason;
    return reason;
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

std::string TAnswerRecord::StatusReason(int status) {
    return "the server answered " + std::to_string(status);
}

TAnswerRecord::TPage TAnswerRecord::Page(const TAnswer& answer) {
    TPage page;
    const bool cutAtCap = answer.Failure == TFailure::TooLarge && answer.Status >= 0;
    // Another type than HTML is only counted: what came of it is its size.
    const bool countedCut = answer.Failure == TFailure::CutShort && answer.Status >= 0 &&
                            answer.BodyRead && answer.Body.empty() && answer.BodyBytes >= 0 &&
                            !IsHtmlContentType(answer.ContentType);
    if ((answer.Failure != TFailure::None && !cutAtCap && !countedCut) || answer.Status < 0) {
        page.Failed = true;
        page.Reason = NoStatusReason(answer);
        return page;
    }
    page.Header.ContentType = answer.ContentType;
    page.Header.StatusCode = answer.Status;
    page.Header.ContentLength = Clamp(std::max<std::int64_t>(answer.Size(), 0));
    if (cutAtCap)
        page.Reason = answer.Reason; // its first 64 MiB are read
    else if (answer.Status >= 400)
        page.Reason = BrokenReason(answer);
    return page;
}

_TContent_Struct TAnswerRecord::Object(const TAnswer& answer, std::string& reason) {
    reason.clear();
    // A body cut short counts what came.
    const bool cut = answer.Failure == TFailure::CutShort && answer.Status >= 0 && answer.BodyRead;
    if ((answer.Failure != TFailure::None && !cut) || answer.Status < 0 || answer.Status == 404) {
        _TContent_Struct result = NotFound();
        if (answer.Failure == TFailure::TooLarge)
            reason = "the body is " + answer.Reason;
        else if (answer.Failure == TFailure::None && answer.Status == 404)
            reason = BrokenReason(answer);
        else
            reason = NoStatusReason(answer);
        // A body that went on too long, or stopped, says how far it came.
        if (answer.BodyRead && answer.Failure != TFailure::Aborted)
            result.ContentLength = Clamp(answer.BodyBytes);
        return result;
    }
    if (answer.Status >= 400)
        reason = BrokenReason(answer);
    return {answer.ContentType, answer.Status,
            Clamp(answer.DeclaredLength >= 0 ? answer.DeclaredLength : answer.BodyBytes)};
}

_TContent_Struct TAnswerRecord::External(const TAnswer& answer, std::string& reason) {
    if (answer.Failure == TFailure::RateLimited) {
        reason = answer.Reason;
        return {"", 0, -1};
    }
    return Object(answer, reason);
}
