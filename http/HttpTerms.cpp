#include "HttpTerms.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>

namespace HttpTerms {

namespace {

struct TUrlParts {
    std::string Scheme, Host, Port;
};

std::optional<TUrlParts> Parts(const std::string& address) {
    const std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> url(curl_url(), curl_url_cleanup);
    if (!url || curl_url_set(url.get(), CURLUPART_URL, address.c_str(), 0) != CURLUE_OK)
        return std::nullopt;
    TUrlParts parts;
    const auto get = [&](CURLUPart part, std::string& out, unsigned flags) {
        char* value = nullptr;
        if (curl_url_get(url.get(), part, &value, flags) != CURLUE_OK)
            return false;
        out = value;
        curl_free(value);
        std::transform(out.begin(), out.end(), out.begin(),
                       [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; });
        return true;
    };
    if (!get(CURLUPART_SCHEME, parts.Scheme, 0) || !get(CURLUPART_HOST, parts.Host, 0) ||
        !get(CURLUPART_PORT, parts.Port, CURLU_DEFAULT_PORT))
        return std::nullopt;
    return parts;
}

} // namespace

std::string HostKey(const std::string& address) {
    const auto parts = Parts(address);
    return parts ? parts->Host + ":" + parts->Port : std::string();
}

std::string Normal(const std::string& address) {
    const std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> url(curl_url(), curl_url_cleanup);
    char* text = nullptr;
    if (!url || curl_url_set(url.get(), CURLUPART_URL, address.c_str(), 0) != CURLUE_OK ||
        curl_url_get(url.get(), CURLUPART_URL, &text, 0) != CURLUE_OK)
        return address;
    std::string normal = text;
    curl_free(text);
    return normal;
}

std::string Resolve(const std::string& base, std::string_view location) {
    const std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> url(curl_url(), curl_url_cleanup);
    char* text = nullptr;
    const std::string target = ForRequest(Trim(location));
    if (!url || target.empty() ||
        curl_url_set(url.get(), CURLUPART_URL, base.c_str(), 0) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_URL, target.c_str(), 0) != CURLUE_OK ||
        curl_url_get(url.get(), CURLUPART_URL, &text, 0) != CURLUE_OK)
        return {};
    std::string resolved = text;
    curl_free(text);
    return resolved;
}

std::string ForRequest(std::string_view address) {
    std::size_t start = 0;
    if (const std::size_t scheme = address.find("://"); scheme != std::string_view::npos)
        start = scheme + 3;
    start = address.find_first_of("/?#", start);
    if (start == std::string_view::npos)
        return std::string(address);
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out(address.substr(0, start));
    for (const char ch : address.substr(start)) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7F) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        } else {
            out += ch;
        }
    }
    return out;
}

std::string Origin(const std::string& address) {
    const auto parts = Parts(address);
    return parts ? parts->Scheme + "://" + parts->Host + ":" + parts->Port : std::string();
}

std::optional<std::chrono::seconds> RetryAfter(std::string_view value, std::time_t now) {
    value = Trim(value);
    if (value.empty())
        return std::nullopt;
    if (const auto seconds = Length(value))
        return std::chrono::seconds(std::min<std::int64_t>(*seconds, 1LL << 40));
    const std::time_t when = curl_getdate(std::string(value).c_str(), nullptr);
    if (when < 0)
        return std::nullopt;
    return std::chrono::seconds(when > now ? when - now : 0);
}

std::optional<std::int64_t> Length(std::string_view value) {
    value = Trim(value);
    if (value.empty() || value.size() > 18)
        return std::nullopt;
    std::int64_t n = 0;
    for (const char c : value) {
        if (c < '0' || c > '9')
            return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return n;
}

std::string Duration(std::chrono::milliseconds time) {
    const auto ms = time.count();
    if (ms % 1000 == 0)
        return std::to_string(ms / 1000) + " s";
    return std::to_string(ms) + " ms";
}

std::string Bytes(std::int64_t count) {
    if (count >= (1 << 20) && count % (1 << 20) == 0)
        return std::to_string(count >> 20) + " MiB";
    if (count >= 1024 && count % 1024 == 0)
        return std::to_string(count >> 10) + " KiB";
    return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

std::string_view Trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

} // namespace HttpTerms
