#pragma once
// Which site an address belongs to: its host and port, without the scheme, so
// that http://h/ and https://h/ (each on its default port) are one site and
// http://h:8080/ is another.

#include <string>

class TSiteKey {
public:
    // "host" for a default port, "host:port" otherwise, the host in lower
    // case; empty when the address has no host.
    static std::string Of(const std::string& address);
};
