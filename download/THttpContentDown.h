#pragma once
// The worker thread that fetches one page with a single HTTP GET, keeps its
// body and its Content-Type, status and length, and reports to the window by
// posting WM_DOWNLOAD_START, WM_DOWNLOAD_OPENED and then exactly one of
// WM_DOWNLOAD_END and WM_DOWNLOAD_FAILED (lParam: this object). That final
// post is the last thing the thread does with the object, so the window may
// delete the object as soon as it has received it.
//
// Only bodies of HTML pages are kept: the first MaxHtmlBody bytes of a longer
// one, with the reason "page larger than 64 MiB". Any other type is checked
// like an object: a declared length is its size and the body is not read;
// one without is counted, up to the same cap. A body sent compressed (every
// layer of gzip, deflate, br, zstd) is decoded first, and the length is that
// of the decoded body: it is what is parsed and what the cap guards; one that
// does not decode, or ends before its compressed data does, fails. A download
// still going after TotalTimeout fails, however steadily its bytes come.

#include "common/Limits.h"
#include "common/TContentStruct.h"
#include "platform/THttp.h"
#include "platform/TThread.h"
#include "platform/TWindowHandle.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

class THttpContentDown : public TThread {
public:
    static constexpr std::size_t MaxHtmlBody = kMaxPageBytes;
    // The time limit of a download, unless the default HTTP options set one.
    static constexpr std::chrono::milliseconds TotalTimeout = std::chrono::minutes(5);

    // Created suspended; Resume starts the download. login goes with the
    // requests to its server.
    THttpContentDown(const std::string& url, HWND window, THttpLogin login = {});
    // Waits for the thread to end. Call Abort first to cut a running download
    // short.
    ~THttpContentDown() override;

    // The address as it was given.
    std::string GetUrl() const { return FUrl; }
    // Where the page really is: the address as given, or where the server's
    // redirects led. The page's relative links are relative to it.
    std::string GetFinalUrl() const { return FFinalUrl; }
    // The body of an HTML page; empty for other types and after a failure.
    std::string GetContent() const { return FContent; }
    // The body, handed over without a copy; GetContent is empty afterwards.
    std::string TakeContent() noexcept { return std::move(FContent); }
    _TContent_Struct GetHeaderInfo() const;
    // Why the download failed, or why the page is broken (a status of 400 or
    // more), in the HTTP layer's words; empty otherwise.
    std::string GetFailureReason() const { return FFailureReason; }

    // Empties the addresses, the body and the type, forgets the window and sets
    // the status and the length to 0.
    void Clear();

    // Makes a running download end within a second; the thread then posts
    // WM_DOWNLOAD_FAILED. Any thread may call it, at any time.
    void Abort() noexcept;

protected:
    void Execute() override;

    // Requests url and stores the body of an HTML page in stream. Fills
    // FContentType, FStatusCode and FContentLength. True when the whole body
    // was read.
    bool DownloadContent(std::string url, std::string& stream);

private:
    std::string FUrl;
    std::string FFinalUrl;
    std::string FContent;
    HWND FWindow;
    std::string FContentType;
    std::int32_t FStatusCode = 0;
    std::int32_t FContentLength = 0;
    std::string FFailureReason;
    THttpLogin FLogin;
    std::atomic<bool> FAbort{false};
};
