#pragma once
// Header information of a download or an object probe.

#include <cstdint>
#include <string>

struct _TContent_Struct {
    std::string ContentType;
    std::int32_t StatusCode = 0;
    std::int32_t ContentLength = 0;

    bool operator==(const _TContent_Struct&) const = default;
};
