#include "TVerdict.h"

#include <array>

namespace {
constexpr std::array<std::string_view, TVerdicts::Count> kNames{"fine", "redirected",
                                                                "unverifiable", "broken"};
}

std::string_view TVerdicts::Name(TVerdict verdict) {
    return kNames[static_cast<std::size_t>(verdict)];
}

std::optional<TVerdict> TVerdicts::FromName(std::string_view name) {
    for (std::size_t i = 0; i < kNames.size(); ++i)
        if (kNames[i] == name)
            return static_cast<TVerdict>(i);
    return std::nullopt;
}

bool TVerdicts::Fails(TVerdict verdict, bool strict) {
    return verdict == TVerdict::Broken || (strict && verdict == TVerdict::Unverifiable);
}
