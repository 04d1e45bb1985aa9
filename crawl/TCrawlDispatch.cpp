// Routing of crawl messages to their handlers.
#include "TCrawl.h"

#include "platform/TMessageEvent.h"

bool TCrawl::event(QEvent* event) {
    if (TMessage* message = TMessageEvent::From(event); message != nullptr && Dispatch(*message))
        return true;
    return QObject::event(event);
}

bool TCrawl::Dispatch(TMessage& message) {
    using Handler = void (TCrawl::*)(TMessage&);
    Handler handler = nullptr;
    switch (message.Msg) {
    case WM_PARSE_START: handler = &TCrawl::OnParseStart; break;
    case WM_PARSER_END: handler = &TCrawl::OnParserEnd; break;
    case WM_NAVIGATION_START: handler = &TCrawl::OnNavigationStart; break;
    case WM_NAVIGATION_END: handler = &TCrawl::OnNavigationEnd; break;
    case WM_DOWNLOAD_START: handler = &TCrawl::OnContentFileDownLoadStart; break;
    case WM_DOWNLOAD_END: handler = &TCrawl::OnContentFileDownLoadEnd; break;
    case WM_DOWNLOAD_FAILED: handler = &TCrawl::OnContentFileDownLoadFailed; break;
    case WM_DATA_MOVE_START: handler = &TCrawl::OnThreadDataMoveStart; break;
    case WM_DATA_MOVE_END: handler = &TCrawl::OnThreadDataMoveEnd; break;
    default: return false; // WM_DOWNLOAD_OPENED and the rest: default handling
    }
    // A message that reaches a stopped crawl is dropped: what it names is gone.
    if (!FStopped) {
        const TNesting nesting(*this);
        (this->*handler)(message);
    }
    return true;
}

std::intptr_t TCrawl::Perform(unsigned msg, std::uintptr_t wParam, std::uintptr_t lParam) {
    return SendMessage(FHandle, msg, wParam, lParam);
}
