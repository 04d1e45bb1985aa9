#pragma once
// One tag read from a page: its name and its attribute list.

#include "TAttribute.h"

#include <cstdint>
#include <memory>

struct _TTag {
    _TAttribute* Attributes = nullptr; // owned list, null when none
    std::uint8_t IsSkipped = 0;        // 1 when the name as written is in the skip list
    std::unique_ptr<char[]> Name;      // null when the tag has no name

    _TTag() = default;
    _TTag(const _TTag&) = delete;
    _TTag& operator=(const _TTag&) = delete;
    ~_TTag() { FreeAttributeList(Attributes); }
};
