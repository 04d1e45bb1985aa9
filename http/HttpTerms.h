#pragma once
// The small readings and wordings the scheduler shares: which host an address
// is on, what a Retry-After asks for, how a duration is said.

#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace HttpTerms {

// "host:port" in lower case, the port even when it is the scheme's default;
// empty when the address cannot be read.
std::string HostKey(const std::string& address);

// The address as libcurl writes it (scheme and host in lower case, an empty
// path as "/"), so that two spellings of one address compare equal; the
// address itself when it cannot be read.
std::string Normal(const std::string& address);

// A Location resolved against the address it came from; empty when it cannot
// be read.
std::string Resolve(const std::string& base, std::string_view location);

// The address as browsers send it: spaces, control bytes and bytes of 0x80
// and above after the host percent-encoded.
std::string ForRequest(std::string_view address);

// "scheme://host:port" in lower case; empty when the address cannot be read.
std::string Origin(const std::string& address);

// The wait a Retry-After value asks for, as of now: delta seconds, or an HTTP
// date (a date gone by asks for none). Nothing for a value that is neither.
std::optional<std::chrono::seconds> RetryAfter(std::string_view value, std::time_t now);

// A Content-Length value: digits only, nothing else.
std::optional<std::int64_t> Length(std::string_view value);

// "60 s", "300 s", "250 ms".
std::string Duration(std::chrono::milliseconds time);
// "64 MiB", "512 KiB", "100 bytes".
std::string Bytes(std::int64_t count);

std::string_view Trim(std::string_view s);
bool EqualsNoCase(std::string_view a, std::string_view b);

} // namespace HttpTerms
