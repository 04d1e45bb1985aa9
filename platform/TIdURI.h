#pragma once
// Splits an address into its parts; the crawl needs only the host.

#include <string>

class TIdURI {
public:
    explicit TIdURI(const std::string& uri);

    // The host in lower case, as URL parsing gives it; empty when the address
    // has no host (one without a scheme, for example).
    const std::string& Host() const noexcept { return FHost; }

private:
    std::string FHost;
};
