#pragma once
// Turns the links written in a page into the addresses they stand for,
// against one base: the address the URL standard gives (TUrlParser), folded
// so that one directory is one address. A relative link's last "index.html"
// or "index.htm" and the "/" that closes its directory are dropped, so that
// "sub/", "sub" and "sub/index.html" are one address; an absolute link loses
// one trailing "/". Links of schemes other than http and https are not
// followed, nor relative links with a fragment.

#include "TUrlParser.h"

#include <string>
#include <string_view>

class TPageEncoding;

class TLinkResolver {
public:
    // The base is parsed once; an address that is not an http or https one
    // leaves only absolute links to resolve. Queries are written in the
    // page's encoding (null: UTF-8), which must outlive the resolver.
    explicit TLinkResolver(std::string_view base = {}, const TPageEncoding* encoding = nullptr);

    // The absolute address of link into address; false, with address empty,
    // when the link is rejected or blank.
    bool Resolve(std::string_view link, std::string& address);

    // The address the standard gives for link, unfolded (what a <base href>
    // sets); false when it gives none of http or https.
    bool ResolveUnfolded(std::string_view link, std::string& address);

private:
    TUrl FBase;
    TUrl FUrl;
    std::string FScratch;
    const TPageEncoding* FEncoding = nullptr;
};
