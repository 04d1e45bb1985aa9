#include "THttpContentDown.h"

#include "HttpRules.h"
#include "common/MediaType.h"
#include "common/Messages.h"
#include "platform/THttp.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <optional>
#include <utility>

namespace {

constexpr std::size_t kChunkSize = 16384;

// Reads the body of a response whose length is declared (at most 999 bytes):
// until that many bytes have come or the data ends. Only the bytes received
// are kept.
bool ReadShortBody(THttpRequest& request, std::int32_t declared, std::string* keep) {
    char block[999];
    std::size_t total = 0;
    const auto wanted = static_cast<std::size_t>(declared);
    while (total < wanted) {
        std::size_t received = 0;
        if (!request.Read(block + total, wanted - total, received))
            return false;
        if (received == 0)
            break;
        total += received;
    }
    if (keep != nullptr)
        keep->append(block, total);
    return true;
}

// How reading a body ended.
enum class TReadEnd { End, Failed, OverCap };

// Reads the body up to its end or to limit bytes with more to come, counting
// the bytes and keeping them when keep is given.
TReadEnd ReadWholeBody(THttpRequest& request, std::string* keep, std::int64_t limit,
                       std::int64_t& counted) {
    auto buffer = std::make_unique<char[]>(kChunkSize);
    for (;;) {
        std::size_t received = 0;
        if (!request.Read(buffer.get(), kChunkSize, received))
            return TReadEnd::Failed;
        if (received == 0)
            return TReadEnd::End;
        const auto room = static_cast<std::size_t>(limit - counted);
        const std::size_t taken = std::min(received, room);
        counted += static_cast<std::int64_t>(taken);
        if (keep != nullptr)
            keep->append(buffer.get(), taken);
        if (received > room)
            return TReadEnd::OverCap;
    }
}

} // namespace

THttpContentDown::THttpContentDown(const std::string& url, HWND window, THttpLogin login)
    : TThread("HttpContentDown"), FUrl(url), FFinalUrl(url), FWindow(std::move(window)),
      FLogin(std::move(login)) {}

THttpContentDown::~THttpContentDown() {
    WaitFor();
}

_TContent_Struct THttpContentDown::GetHeaderInfo() const {
    return {FContentType, FStatusCode, FContentLength};
}

void THttpContentDown::Clear() {
    FUrl.clear();
    FFinalUrl.clear();
    FContent.clear();
    FContentType.clear();
    FWindow.reset();
    FStatusCode = 0;
    FContentLength = 0;
    FFailureReason.clear();
}

void THttpContentDown::Abort() noexcept {
    FAbort.store(true, std::memory_order_release);
    Terminate();
}

void THttpContentDown::Execute() {
    // A copy of the handle: after the final post the window may clear or
    // delete this object at once.
    const HWND window = FWindow;
    const auto self = reinterpret_cast<std::uintptr_t>(this);
    PostMessage(window, WM_DOWNLOAD_START, 0, 0);
    bool ok = false;
    try {
        std::string body;
        ok = DownloadContent(FUrl, body);
        if (ok)
            FContent = std::move(body);
    } catch (...) {
        ok = false; // out of memory
        FFailureReason = "out of memory";
    }
    if (!ok)
        FContent.clear();
    PostMessage(window, ok ? WM_DOWNLOAD_END : WM_DOWNLOAD_FAILED, 0, self);
}

bool THttpContentDown::DownloadContent(std::string url, std::string& stream) {
    stream.clear();
    url = WithHttpScheme(url);

    const THttpSession session(kHttpAgent, SessionOptions(TotalTimeout, FLogin), &FAbort);
    const std::unique_ptr<THttpRequest> request = session.OpenUrl(url);
    PostMessage(FWindow, WM_DOWNLOAD_OPENED, 0, 0);
    if (request->FinalUrl() != url)
        FFinalUrl = request->FinalUrl();
    if (!request->Opened()) {
        FFailureReason = FailureReason(*request);
        return false;
    }

    std::string type; // stays empty when the header is missing
    request->QueryHeader("Content-Type", type);
    const std::optional<std::int32_t> status = StatusCodeOf(*request);
    if (!status) {
        FFailureReason = FailureReason(*request);
        return false;
    }
    FContentType = type;
    FStatusCode = *status;
    if (*status >= 400)
        FFailureReason = StatusReason(*status);
    constexpr auto cap = static_cast<std::int64_t>(MaxHtmlBody);
    const auto clamp = [](std::int64_t size) {
        return static_cast<std::int32_t>(
            std::min<std::int64_t>(size, std::numeric_limits<std::int32_t>::max()));
    };
    bool ok = true;
    if (!IsHtmlContentType(type)) {
        // Checked like an object: a declared length is its size and the body
        // is not read; one without is counted, up to the cap.
        if (const std::optional<std::int64_t> declared = DeclaredLength(*request)) {
            FContentLength = clamp(*declared);
        } else {
            std::int64_t counted = 0;
            const TReadEnd end = ReadWholeBody(*request, nullptr, cap, counted);
            FContentLength = clamp(counted);
            ok = end != TReadEnd::Failed || !request->Decoded();
            if (end == TReadEnd::OverCap)
                FFailureReason = "page larger than 64 MiB";
            else if (!ok)
                FFailureReason = request->ErrorText();
        }
    } else if (const std::optional<std::int32_t> declared = ShortDeclaredLength(*request)) {
        ok = ReadShortBody(*request, *declared, &stream);
        FContentLength = *declared;
        if (!ok)
            FFailureReason = request->ErrorText();
    } else {
        // A page over the cap keeps its first 64 MiB: their links are read.
        std::int64_t counted = 0;
        const TReadEnd end = ReadWholeBody(*request, &stream, cap, counted);
        FContentLength = clamp(counted);
        ok = end != TReadEnd::Failed;
        if (end == TReadEnd::OverCap)
            FFailureReason = "page larger than 64 MiB";
        else if (!ok)
            FFailureReason = request->ErrorText();
    }
    request->Close();
    return ok;
}
