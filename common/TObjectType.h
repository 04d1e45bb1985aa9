#pragma once
// The record of one page or object address. Pages and objects share it: the
// parser fills the address, count and depth; the window adds what the server
// reported. Fields lie one after the other without padding, in this order.

#include <cstdint>
#include <string>

#pragma pack(push, 1)
struct alignas(8) _TObjectType {
    std::string Url;          // absolute address, bytes as found
    std::string ContentType;  // as the server reported it
    std::int16_t Kind = 0;    // 0 page link, 2 embedded object
    std::int32_t Size = 0;    // bytes
    std::uint8_t Visited = 0; // 1 once the window has fetched the page
    std::int32_t Count = 0;   // occurrences
    std::int32_t Status = 0;  // HTTP status code
    std::int32_t Depth = 0;   // crawl depth
    std::int32_t Id = 0;      // given by the window
};
#pragma pack(pop)

inline constexpr std::int16_t KIND_PAGE = 0;
inline constexpr std::int16_t KIND_OBJECT = 2;
