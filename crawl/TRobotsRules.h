#pragma once
// The rules of a robots.txt for one crawler: the group of its product token
// (else the "*" group), Allow and Disallow paths with "*" and "$", the
// longest match deciding and Allow winning a tie.

#include "http/TAnswer.h"

#include <string>
#include <string_view>
#include <vector>

class TRobotsRules {
public:
    // Everything allowed.
    TRobotsRules() = default;

    // The rules of text for the crawler whose product token is agent
    // ("Marrowby"), matched without regard to letter case.
    static TRobotsRules Parse(std::string_view text, std::string_view agent);
    // The rules an answer to a robots.txt request gives: its body's when it
    // came (the first 512 KiB of a longer one); everything allowed when there
    // is none (4xx) or the server could not be reached (the pages' own
    // requests then say why); nothing allowed on a server error (5xx).
    static TRobotsRules FromAnswer(const TAnswer& answer, std::string_view agent);
    // The product token of a User-Agent: "Marrowby" of "Marrowby/1.0 (+…)".
    static std::string ProductToken(std::string_view userAgent);

    // Whether the path (with its query) of an address may be fetched.
    bool Allows(std::string_view path) const;
    // The path and query of an address, as matched: "/" when it has none.
    static std::string PathOf(const std::string& address);

private:
    struct TRule {
        std::string Pattern;
        bool Allow = false;
    };
    static bool Matches(std::string_view pattern, std::string_view path);

    std::vector<TRule> FRules;
    bool FNothing = false; // nothing allowed
};
