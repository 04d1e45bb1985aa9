#pragma once
// What an answer of the request scheduler becomes in the crawl's records: the
// status, size and Content-Type of a page or an object, its verdict, and the
// reason in words.

#include "common/TContentStruct.h"
#include "common/TVerdict.h"
#include "http/TAnswer.h"

#include <string>
#include <string_view>

class TAnswerRecord {
public:
    // A page's answer. Failed: no page came (no answer, or one without a
    // numeric status); the page gets the failed-page row.
    struct TPage {
        bool Failed = false;
        _TContent_Struct Header;
        std::string Reason; // as Reason(answer)
    };
    static TPage Page(const TAnswer& answer);

    // An object's answer: a 404, no answer, or a body that went past its cap
    // or did not arrive whole give the "Not Found", 404, -1 triple (the size
    // then says how far the body was counted). reason receives
    // Reason(answer).
    static _TContent_Struct Object(const TAnswer& answer, std::string& reason);

    // A link to another site: as an object, but an address that asked for a
    // longer wait than allowed has status 0.
    static _TContent_Struct External(const TAnswer& answer, std::string& reason);

    // What a person should make of the answer. The one place where an
    // answer is called broken, unverifiable, redirected or fine.
    static TVerdict Verdict(const TAnswer& answer);
    // An unverifiable answer that may well differ when asked again later: a
    // timeout, a connection reset or cut short, a rate limit, a server error
    // (408, 429, 5xx). A login or bot wall (401, 403), a TLS failure or a
    // cancelled request will not pass by waiting.
    static bool MayPass(const TAnswer& answer);
    // The status of the first permanent redirect (301, 308) of the answer's
    // chain; 0 when it has none.
    static int PermanentRedirect(const TAnswer& answer);
    // Why the verdict, in words: the status and its text ("404 Not Found",
    // "503 Service Unavailable, after 2 retries"), where a redirect leads
    // ("301 Moved Permanently to https://…"), or the transfer's error as the
    // scheduler gives it ("connection refused", "timed out after 60 s").
    static std::string Reason(const TAnswer& answer);

    // "Not Found", 404, -1.
    static _TContent_Struct NotFound();
    // The status and its standard text ("404 Not Found"); for a status
    // without one, the words the status line gave (phrase), if any.
    static std::string StatusReason(int status, std::string_view phrase = {});
};
