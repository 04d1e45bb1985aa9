#pragma once
// What a person should do about an address, as every list, report, summary
// and exit code tells it. Ordered from best to worst.

#include <cstdint>
#include <optional>
#include <string_view>

enum class TVerdict : std::uint8_t {
    Fine,
    // It works, through a permanent redirect: the link should be updated.
    Redirected,
    // The answer says nothing about the address itself: a login wall, a
    // rate limit, a timeout, a server error, robots.txt.
    Unverifiable,
    // The address does not exist, is gone, or cannot be reached at all.
    Broken,
};

class TVerdicts {
public:
    static constexpr int Count = 4;
    // "fine", "redirected", "unverifiable", "broken".
    static std::string_view Name(TVerdict verdict);
    // The verdict of its name; none for any other text.
    static std::optional<TVerdict> FromName(std::string_view name);
    // True when the verdict fails a check: broken, and with strict also
    // unverifiable.
    static bool Fails(TVerdict verdict, bool strict);
};
