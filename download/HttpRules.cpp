#include "HttpRules.h"

#include <charconv>

#include "platform/THttp.h"

namespace {
bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}
} // namespace

THttpOptions SessionOptions(std::chrono::milliseconds totalTimeout, const THttpLogin& login) {
    THttpOptions options = THttpOptions::Default();
    if (options.TotalTimeout.count() == 0)
        options.TotalTimeout = totalTimeout;
    options.Login = login;
    return options;
}

std::string WithHttpScheme(std::string_view address) {
    if (StartsWithNoCase(address, "http://") || StartsWithNoCase(address, "https://"))
        return std::string(address);
    return "http://" + std::string(address);
}

std::optional<std::int32_t> ParseDecimal(std::string_view text) {
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    std::int32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::optional<std::int32_t> StatusCodeOf(const THttpRequest& request) {
    std::string text;
    if (request.QueryStatusCode(text) != THttpQuery::Ok)
        return std::nullopt;
    return ParseDecimal(text);
}

std::string FailureReason(const THttpRequest& request) {
    if (request.Failure() != THttpFailure::None)
        return request.ErrorText();
    std::string text;
    if (request.QueryStatusCode(text) != THttpQuery::Ok)
        return "no response";
    if (const std::optional<std::int32_t> status = ParseDecimal(text))
        return StatusReason(*status);
    return "the status \"" + text + "\" is not a number";
}

std::string StatusReason(std::int32_t status) {
    return "the server answered " + std::to_string(status);
}

std::optional<std::int64_t> DeclaredLength(const THttpRequest& request) {
    std::string text;
    if (request.Decoded() || request.QueryHeader("Content-Length", text) != THttpQuery::Ok ||
        text.empty())
        return std::nullopt;
    std::int64_t length = 0;
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, length);
    if (error != std::errc() || stop != end || length < 0)
        return std::nullopt;
    return length;
}

std::optional<std::int32_t> ShortDeclaredLength(const THttpRequest& request) {
    std::string text;
    if (request.Decoded() || request.QueryHeader("Content-Length", text) != THttpQuery::Ok ||
        text.size() > 3)
        return std::nullopt;
    return ParseDecimal(text);
}
