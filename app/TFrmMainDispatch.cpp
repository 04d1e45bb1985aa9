// Routing of crawl messages to their handlers.
#include "TFrmMain.h"

#include "platform/TMessageEvent.h"

bool TFrmMain::event(QEvent* event) {
    if (TMessage* message = TMessageEvent::From(event); message != nullptr && Dispatch(*message))
        return true;
    return QMainWindow::event(event);
}

bool TFrmMain::Dispatch(TMessage& message) {
    using Handler = void (TFrmMain::*)(TMessage&);
    Handler handler = nullptr;
    switch (message.Msg) {
    case WM_PARSE_START: handler = &TFrmMain::OnParseStart; break;
    case WM_PARSER_END: handler = &TFrmMain::OnParserEnd; break;
    case WM_NAVIGATION_START: handler = &TFrmMain::OnNavigationStart; break;
    case WM_NAVIGATION_END: handler = &TFrmMain::OnNavigationEnd; break;
    case WM_DOWNLOAD_START: handler = &TFrmMain::OnContentFileDownLoadStart; break;
    case WM_DOWNLOAD_END: handler = &TFrmMain::OnContentFileDownLoadEnd; break;
    case WM_DOWNLOAD_FAILED: handler = &TFrmMain::OnContentFileDownLoadFailed; break;
    case WM_DATA_MOVE_START: handler = &TFrmMain::OnThreadDataMoveStart; break;
    case WM_DATA_MOVE_END: handler = &TFrmMain::OnThreadDataMoveEnd; break;
    default: return false; // WM_DOWNLOAD_OPENED and the rest: default handling
    }
    // A message that reaches a closed window is dropped: what it names is gone.
    if (!FClosed)
        (this->*handler)(message);
    return true;
}

std::intptr_t TFrmMain::Perform(unsigned msg, std::uintptr_t wParam, std::uintptr_t lParam) {
    return SendMessage(FHandle, msg, wParam, lParam);
}
