#pragma once
// Turns the links written in a page into the absolute addresses they stand
// for, against one base. What depends on the base alone (its scheme, host and
// directories) is worked out once, when the resolver is made, so that the
// links of a page cost only their own reading.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class TLinkResolver {
public:
    explicit TLinkResolver(std::string_view base = {});

    // The absolute address of link into address; false, with address empty,
    // when the link is rejected or blank.
    bool Resolve(std::string_view link, std::string& address);

private:
    // The scheme of a link that opens with "//".
    const char* FNetworkScheme = "http:";
    // The scheme and the host of a relative link, ending in "/".
    std::string FRoot;
    // The base's directories, each followed by "/", and where each one ends,
    // so that a leading ".." of a link can drop the last ones.
    std::string FDirectories;
    std::vector<std::size_t> FDirectoryEnds;
    // The link's directories left standing, reused from link to link.
    std::vector<std::string_view> FLinkDirectories;
};
