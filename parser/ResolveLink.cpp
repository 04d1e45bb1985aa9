// Turning a link written in a page into the absolute address it stands for.

#include "THtmlParser.h"
#include "TLinkResolver.h"

std::string THtmlParser::ResolveLink(std::string base, std::string link) {
    std::string address;
    TLinkResolver(base).Resolve(link, address);
    return address;
}
