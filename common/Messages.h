#pragma once
// Numbers and record of the messages that drive a crawl. Workers post them to
// the window; the window sends some of them to itself.

#include <cstdint>

inline constexpr unsigned WM_USER = 1024;

inline constexpr unsigned WM_PARSE_START = WM_USER + 1;       // 1025, window to itself
inline constexpr unsigned WM_PARSER_END = WM_USER + 2;        // 1026, parser thread
inline constexpr unsigned WM_NAVIGATION_START = WM_USER + 3;  // 1027, window to itself
inline constexpr unsigned WM_NAVIGATION_END = WM_USER + 4;    // 1028, window to itself
inline constexpr unsigned WM_DOWNLOAD_START = WM_USER + 5;    // 1029, download thread
inline constexpr unsigned WM_DOWNLOAD_END = WM_USER + 6;      // 1030, download thread
inline constexpr unsigned WM_DOWNLOAD_OPENED = WM_USER + 7;   // 1031, download thread, unhandled
inline constexpr unsigned WM_DOWNLOAD_FAILED = WM_USER + 11;  // 1035, download thread
inline constexpr unsigned WM_DATA_MOVE_START = WM_USER + 12;  // 1036, window to itself
inline constexpr unsigned WM_DATA_MOVE_END = WM_USER + 13;    // 1037, window to itself

// The first and last numbers of the crawl's range.
inline constexpr unsigned WM_CRAWL_FIRST = WM_PARSE_START;
inline constexpr unsigned WM_CRAWL_LAST = WM_DATA_MOVE_END;

// A message as a handler receives it. LParam is 0 or the sending worker object.
struct TMessage {
    unsigned Msg = 0;
    std::uintptr_t WParam = 0;
    std::uintptr_t LParam = 0;
    std::intptr_t Result = 0;
};
