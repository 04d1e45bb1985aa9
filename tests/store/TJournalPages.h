#pragma once
// The answers of a made-up crawl, page by page, for the tests that write a
// crawl file in another process and read it back: the page's own answer
// (bytes no compression shrinks, NUL bytes among them) and a probe asked on
// every page, whose answers pile up under one key; the page's rows link to
// the next page and use the shared probe.

#include "crawl/TRecordStore.h"
#include "http/TAnswer.h"

#include <cstddef>
#include <string>

inline std::string PageAddress(std::size_t page) {
    return "http://127.0.0.1/p" + std::to_string(page);
}
inline std::string PageKey(std::size_t page) {
    return "GET keep 67108864 " + PageAddress(page);
}
inline const std::string SharedAddress = "http://127.0.0.1/shared";
inline const std::string SharedKey = "HEAD skip 0 " + SharedAddress;

inline TAnswer PageAnswer(std::size_t page) {
    TAnswer a;
    a.Status = 200;
    a.StatusText = "200";
    a.FinalAddress = "http://127.0.0.1/p" + std::to_string(page);
    a.ContentType = "text/html";
    std::uint32_t x = std::uint32_t(page) * 2654435761u + 1;
    a.Body.resize(3000);
    for (char& c : a.Body) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        c = char(x);
    }
    a.BodyBytes = std::int64_t(a.Body.size());
    a.BodyRead = true;
    return a;
}

inline TAnswer SharedAnswer(std::size_t page) {
    TAnswer a;
    a.Status = 404;
    a.Reason = "asked on page " + std::to_string(page);
    a.Method = TRequest::TMethod::Head;
    return a;
}

// The page's rows, merged into records: a link to the next page and the
// shared object.
inline void MergePage(TRecordStore& records, std::size_t page) {
    records.BeginMerge(PageAddress(page));
    records.AddReference(SharedAddress, KIND_OBJECT, 1, false, 2);
    records.AddReference(PageAddress(page + 1), KIND_PAGE, 1, true, 3);
    records.EndMerge();
}
