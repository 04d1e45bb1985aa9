#pragma once
// What an answer of the request scheduler becomes in the crawl's records: the
// status, size and Content-Type of a page or an object, and why it is broken.

#include "common/TContentStruct.h"
#include "common/TVerdict.h"
#include "http/TAnswer.h"

#include <string>

class TAnswerRecord {
public:
    // A page's answer. Failed: no page came (no answer, or one without a
    // numeric status); the page gets the failed-page row.
    struct TPage {
        bool Failed = false;
        _TContent_Struct Header;
        std::string Reason;
    };
    static TPage Page(const TAnswer& answer);

    // An object's answer: a 404, no answer, or a body that went past its cap
    // or did not arrive whole give the "Not Found", 404, -1 triple (the size
    // then says how far the body was counted). reason receives why the object
    // is broken, when it is.
    static _TContent_Struct Object(const TAnswer& answer, std::string& reason);

    // A link to another site: as an object, but an address that asked for a
    // longer wait than allowed is "rate limited", status 0, not broken.
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

    // "Not Found", 404, -1.
    static _TContent_Struct NotFound();
    // "the server answered 404" and the like.
    static std::string StatusReason(int status);
};
