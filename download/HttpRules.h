#pragma once
// Rules shared by the page download and the object probe: the agent string,
// the address prefix, and how the status and the declared length are read.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class THttpRequest;
struct THttpLogin;
struct THttpOptions;

inline constexpr char kHttpAgent[] = "Mozilla/4.0+(compatible;+MSIE+6.0;+Windows+NT+5.0)";

// The options of the sessions made without explicit ones, with totalTimeout
// as the time limit of a transfer unless they set one of their own, and with
// login.
THttpOptions SessionOptions(std::chrono::milliseconds totalTimeout, const THttpLogin& login);

// An address that starts with "http://" or "https://", in any letter case, is
// used as it is; any other gets "http://" in front.
std::string WithHttpScheme(std::string_view address);

// A decimal number of one to nine digits, nothing else.
std::optional<std::int32_t> ParseDecimal(std::string_view text);

// The response's numeric status code; nothing when the request was not opened
// or the status is not a number.
std::optional<std::int32_t> StatusCodeOf(const THttpRequest& request);

// Why a request gave no usable answer, in a person's words: the HTTP layer's
// reason for a failed transfer, or the status the server answered with.
std::string FailureReason(const THttpRequest& request);
// "the server answered 404" and the like.
std::string StatusReason(std::int32_t status);

// The declared Content-Length when it has at most three digits (0 to 999).
// Any other length, a missing header, and a body that is decoded (its
// declared length is that of the encoded bytes) leave the size to be counted.
std::optional<std::int32_t> ShortDeclaredLength(const THttpRequest& request);

// The declared Content-Length, whatever its number of digits, when it is a
// valid length of the body as it will be read (not of a compressed one).
std::optional<std::int64_t> DeclaredLength(const THttpRequest& request);
