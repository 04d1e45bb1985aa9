#include "TUrlParser.h"

#include "ParserText.h"
#include "TPageEncoding.h"

#include <QString>
#include <QUrl>

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

using namespace parser_text;

namespace {

constexpr std::size_t npos = std::string_view::npos;

// The standard's percent-encode sets, one bit each.
enum : unsigned char {
    FragmentSet = 1,
    QuerySet = 2, // the query of an http(s) address
    PathSet = 4,
    UserInfoSet = 8,
};

constexpr std::array<unsigned char, 256> EncodeSets = [] {
    std::array<unsigned char, 256> sets{};
    for (int c = 0; c < 256; ++c) {
        const bool control = c < 0x20 || c > 0x7E;
        const bool fragment = control || c == ' ' || c == '"' || c == '<' || c == '>' || c == '`';
        const bool query =
            control || c == ' ' || c == '"' || c == '#' || c == '<' || c == '>' || c == '\'';
        const bool path = control || c == ' ' || c == '"' || c == '#' || c == '<' || c == '>' ||
                          c == '?' || c == '`' || c == '{' || c == '}';
        const bool userInfo = path || c == '/' || c == ':' || c == ';' || c == '=' || c == '@' ||
                              (c >= '[' && c <= '^') || c == '|';
        sets[c] = static_cast<unsigned char>((fragment ? FragmentSet : 0) | (query ? QuerySet : 0) |
                                             (path ? PathSet : 0) | (userInfo ? UserInfoSet : 0));
    }
    return sets;
}();

void AppendPercent(std::string& out, unsigned char c) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    out.push_back('%');
    out.push_back(Hex[c >> 4]);
    out.push_back(Hex[c & 15]);
}

void AppendEncoded(std::string& out, std::string_view text, unsigned char set) {
    std::size_t run = 0; // the start of the bytes that stay as they are
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (EncodeSets[c] & set) {
            out.append(text.substr(run, i - run));
            AppendPercent(out, c);
            run = i + 1;
        }
    }
    out.append(text.substr(run));
}

// The query is written in the page's encoding, then percent-encoded; a
// character the encoding lacks becomes "%26%23", its number, "%3B".
void AppendQuery(std::string_view query, const TPageEncoding* encoding, std::string& out) {
    if (encoding == nullptr || encoding->QueryInUtf8()) {
        AppendEncoded(out, query, QuerySet);
        return;
    }
    std::string bytes;
    for (std::size_t i = 0; i < query.size();) {
        const auto lead = static_cast<unsigned char>(query[i]);
        if (lead < 0x80) {
            AppendEncoded(out, query.substr(i, 1), QuerySet);
            ++i;
            continue;
        }
        const std::size_t length = std::min<std::size_t>(lead >= 0xF0   ? 4
                                                         : lead >= 0xE0 ? 3
                                                         : lead >= 0xC0 ? 2
                                                                        : 1,
                                                         query.size() - i);
        const std::string_view character = query.substr(i, length);
        if (encoding->Encode(character, bytes)) {
            AppendEncoded(out, bytes, QuerySet);
        } else {
            out.append("%26%23")
                .append(std::to_string(TPageEncoding::CodePoint(character)))
                .append("%3B");
        }
        i += length;
    }
}

constexpr bool IsSlash(char c) noexcept {
    return c == '/' || c == '\\';
}

// The length of the scheme the text opens with (before its ":"), or npos.
std::size_t SchemeLength(std::string_view s) noexcept {
    if (s.empty() || !IsAsciiLetter(s[0]))
        return npos;
    std::size_t i = 1;
    while (i < s.size() && (IsAsciiLetter(s[i]) || (s[i] >= '0' && s[i] <= '9') || s[i] == '+' ||
                            s[i] == '-' || s[i] == '.'))
        ++i;
    return i < s.size() && s[i] == ':' ? i : npos;
}

std::string PercentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        int high = -1, low = -1;
        if (text[i] == '%' && i + 2 < text.size() && (high = HexDigit(text[i + 1])) >= 0 &&
            (low = HexDigit(text[i + 2])) >= 0) {
            out.push_back(static_cast<char>(high * 16 + low));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

// An IPv4 number in decimal, octal ("0" first) or hex ("0x" first).
bool ParseIpv4Number(std::string_view text, std::uint64_t& value) {
    if (text.empty())
        return false;
    int radix = 10;
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        radix = 16;
        text.remove_prefix(2);
    } else if (text.size() >= 2 && text[0] == '0') {
        radix = 8;
        text.remove_prefix(1);
    }
    value = 0;
    for (const char c : text) {
        const int digit = HexDigit(c);
        if (digit < 0 || digit >= radix)
            return false;
        value = std::min<std::uint64_t>(value * radix + static_cast<unsigned>(digit), 1ull << 40);
    }
    return true;
}

std::vector<std::string_view> DotParts(std::string_view host) {
    std::vector<std::string_view> parts;
    std::size_t from = 0;
    for (std::size_t dot = host.find('.'); dot != npos; dot = host.find('.', from)) {
        parts.push_back(host.substr(from, dot - from));
        from = dot + 1;
    }
    parts.push_back(host.substr(from));
    if (parts.size() > 1 && parts.back().empty())
        parts.pop_back();
    return parts;
}

bool EndsInNumber(std::string_view host) {
    if (host.ends_with('.'))
        host.remove_suffix(1);
    const std::size_t dot = host.rfind('.');
    const std::string_view last = dot == npos ? host : host.substr(dot + 1);
    if (last.empty())
        return false;
    if (last.find_first_not_of("0123456789") == npos)
        return true;
    std::uint64_t value = 0;
    return ParseIpv4Number(last, value);
}

bool AppendIpv4(std::string_view host, std::string& out) {
    const std::vector<std::string_view> parts = DotParts(host);
    if (parts.size() > 4)
        return false;
    std::uint64_t address = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        std::uint64_t n = 0;
        if (!ParseIpv4Number(parts[i], n))
            return false;
        const bool last = i + 1 == parts.size();
        if (!last && n > 255)
            return false;
        if (last) {
            if (n >= (1ull << (8 * (5 - parts.size()))))
                return false;
            address += n;
        } else {
            address += n << (8 * (3 - i));
        }
    }
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.append(std::to_string((address >> shift) & 255));
        if (shift > 0)
            out.push_back('.');
    }
    return true;
}

// "[...]": eight pieces in hex, the first longest run of two or more zero
// pieces written "::".
bool AppendIpv6(std::string_view inside, std::string& out) {
    unsigned char bytes[16];
    if (inside.find('%') != npos || inet_pton(AF_INET6, std::string(inside).c_str(), bytes) != 1)
        return false;
    std::array<unsigned, 8> pieces{};
    for (int i = 0; i < 8; ++i)
        pieces[i] = bytes[2 * i] << 8 | bytes[2 * i + 1];
    int runStart = -1, runLength = 1;
    for (int i = 0; i < 8;) {
        int j = i;
        while (j < 8 && pieces[j] == 0)
            ++j;
        if (j - i > runLength) {
            runStart = i;
            runLength = j - i;
        }
        i = j == i ? i + 1 : j;
    }
    static constexpr char Hex[] = "0123456789abcdef";
    out.push_back('[');
    for (int i = 0; i < 8; ++i) {
        if (i == runStart) {
            out.append(i == 0 ? "::" : ":");
            i += runLength - 1;
            continue;
        }
        bool started = false;
        for (int shift = 12; shift >= 0; shift -= 4) {
            const unsigned digit = (pieces[i] >> shift) & 15;
            if (digit != 0 || started || shift == 0) {
                out.push_back(Hex[digit]);
                started = true;
            }
        }
        if (i < 7)
            out.push_back(':');
    }
    out.push_back(']');
    return true;
}

bool IsForbiddenInDomain(unsigned char c) noexcept {
    static constexpr std::string_view Forbidden = "#%/:<>?@[\\]^|";
    return c <= 0x20 || c == 0x7F || Forbidden.find(static_cast<char>(c)) != npos;
}

bool AppendHost(std::string_view text, std::string& out) {
    if (text.starts_with('['))
        return text.size() >= 2 && text.ends_with(']') &&
               AppendIpv6(text.substr(1, text.size() - 2), out);
    // Most hosts are plain ASCII names, written straight into place.
    bool plain = true;
    for (const char c : text)
        plain = plain && static_cast<unsigned char>(c) < 0x80 && c != '%';
    if (plain) {
        const std::size_t begin = out.size();
        for (const char c : text) {
            if (IsForbiddenInDomain(static_cast<unsigned char>(c)))
                return false;
            out.push_back(ToLower(c));
        }
        if (!EndsInNumber(std::string_view(out).substr(begin)))
            return true;
        const std::string name = out.substr(begin);
        out.resize(begin);
        return AppendIpv4(name, out);
    }
    std::string domain = PercentDecode(text);
    bool ascii = true;
    for (const char c : domain)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (!ascii) {
        const QByteArray ace =
            QUrl::toAce(QString::fromUtf8(domain.data(), static_cast<qsizetype>(domain.size())));
        domain.assign(ace.constData(), static_cast<std::size_t>(ace.size()));
    }
    if (domain.empty())
        return false;
    for (char& c : domain) {
        if (IsForbiddenInDomain(static_cast<unsigned char>(c)))
            return false;
        c = ToLower(c);
    }
    if (EndsInNumber(domain))
        return AppendIpv4(domain, out);
    out.append(domain);
    return true;
}

// The user name and password of an address, as the standard writes them.
// Addresses keep them; this is the one place that writes them.
void AppendUserInfo(std::string_view userInfo, std::string& out) {
    const std::size_t colon = userInfo.find(':');
    const std::string_view user = userInfo.substr(0, colon);
    const std::string_view password =
        colon == npos ? std::string_view() : userInfo.substr(colon + 1);
    if (user.empty() && password.empty())
        return;
    AppendEncoded(out, user, UserInfoSet);
    if (!password.empty()) {
        out.push_back(':');
        AppendEncoded(out, password, UserInfoSet);
    }
    out.push_back('@');
}

bool IsSingleDot(std::string_view s) noexcept {
    return s == "." || EqualsNoCase(s, "%2e");
}

bool IsDoubleDot(std::string_view s) noexcept {
    return s == ".." || EqualsNoCase(s, ".%2e") || EqualsNoCase(s, "%2e.") ||
           EqualsNoCase(s, "%2e%2e");
}

// Drops the last segment of the path that starts at pathBegin.
void Shorten(std::string& href, std::size_t pathBegin) {
    const std::size_t slash = href.rfind('/');
    if (slash != npos && slash >= pathBegin)
        href.resize(slash);
}

// The path state: the segments of text (up to its "?" or "#") added to the
// path that starts at pathBegin, then the query and the fragment.
void AppendPathQueryFragment(std::string_view text, TUrl& url, const TPageEncoding* encoding) {
    std::string& href = url.Href;
    std::size_t pathEnd = 0;
    while (pathEnd < text.size() && text[pathEnd] != '?' && text[pathEnd] != '#')
        ++pathEnd;
    if (pathEnd == text.size())
        pathEnd = npos;
    const std::string_view path = text.substr(0, pathEnd);
    for (std::size_t from = 0;;) {
        std::size_t end = from;
        while (end < path.size() && !IsSlash(path[end]))
            ++end;
        const std::string_view segment = path.substr(from, end - from);
        const bool last = end == path.size();
        if (IsDoubleDot(segment)) {
            Shorten(href, url.PathBegin);
            if (last)
                href.push_back('/');
        } else if (IsSingleDot(segment)) {
            if (last)
                href.push_back('/');
        } else {
            href.push_back('/');
            AppendEncoded(href, segment, PathSet);
        }
        if (last)
            break;
        from = end + 1;
    }
    if (pathEnd == npos)
        return;
    std::string_view rest = text.substr(pathEnd);
    if (rest.front() == '?') {
        const std::size_t hash = rest.find('#');
        url.QueryBegin = href.size();
        href.push_back('?');
        AppendQuery(rest.substr(1, hash == npos ? npos : hash - 1), encoding, href);
        rest = hash == npos ? std::string_view() : rest.substr(hash);
    }
    if (!rest.empty()) {
        url.FragmentBegin = href.size();
        href.push_back('#');
        AppendEncoded(href, rest.substr(1), FragmentSet);
    }
}

// The authority state onwards: text is what follows the slashes after the
// scheme.
bool ParseAuthority(std::string_view scheme, std::string_view text, TUrl& url,
                    const TPageEncoding* encoding) {
    std::string& href = url.Href;
    href.assign(scheme).append("://");
    std::size_t end = 0;
    while (end < text.size() && !IsSlash(text[end]) && text[end] != '?' && text[end] != '#')
        ++end;
    std::string_view authority = text.substr(0, end);
    if (const std::size_t at = authority.rfind('@'); at != npos) {
        AppendUserInfo(authority.substr(0, at), href);
        authority.remove_prefix(at + 1);
    }
    bool inBrackets = false;
    std::size_t colon = npos;
    for (std::size_t i = 0; i < authority.size() && colon == npos; ++i) {
        if (authority[i] == '[')
            inBrackets = true;
        else if (authority[i] == ']')
            inBrackets = false;
        else if (authority[i] == ':' && !inBrackets)
            colon = i;
    }
    const std::string_view host = authority.substr(0, colon);
    if (host.empty() || !AppendHost(host, href))
        return false;
    if (colon != npos) {
        const std::string_view port = authority.substr(colon + 1);
        if (port.find_first_not_of("0123456789") != npos)
            return false;
        if (!port.empty()) {
            std::uint32_t value = 0;
            for (const char c : port)
                if ((value = value * 10 + static_cast<std::uint32_t>(c - '0')) > 65535)
                    return false;
            if (value != (scheme == "https" ? 443u : 80u))
                href.append(":").append(std::to_string(value));
        }
    }
    url.PathBegin = href.size();
    std::string_view rest = text.substr(end);
    if (!rest.empty() && IsSlash(rest.front()))
        rest.remove_prefix(1);
    AppendPathQueryFragment(rest, url, encoding);
    return true;
}

std::string_view SkipSlashes(std::string_view text) {
    while (!text.empty() && IsSlash(text.front()))
        text.remove_prefix(1);
    return text;
}

// The relative state: text against a valid base.
bool ParseRelative(std::string_view text, const TUrl& base, TUrl& url,
                   const TPageEncoding* encoding) {
    const std::string_view baseHref = base.Href;
    const std::string_view scheme = baseHref.substr(0, baseHref.find(':'));
    if (text.size() >= 2 && IsSlash(text[0]) && IsSlash(text[1]))
        return ParseAuthority(scheme, SkipSlashes(text), url, encoding);
    url.Href.assign(baseHref.substr(0, base.PathBegin));
    url.PathBegin = base.PathBegin;
    if (!text.empty() && IsSlash(text[0])) {
        AppendPathQueryFragment(text.substr(1), url, encoding);
        return true;
    }
    url.Href.append(base.Path());
    if (text.empty() || text[0] == '#') {
        if (base.QueryBegin != npos) {
            url.QueryBegin = url.Href.size();
            url.Href.append(baseHref.substr(
                base.QueryBegin,
                (base.FragmentBegin == npos ? baseHref.size() : base.FragmentBegin) -
                    base.QueryBegin));
        }
        if (!text.empty()) {
            url.FragmentBegin = url.Href.size();
            url.Href.push_back('#');
            AppendEncoded(url.Href, text.substr(1), FragmentSet);
        }
        return true;
    }
    if (text[0] == '?') {
        url.QueryBegin = url.Href.size();
        url.Href.push_back('?');
        const std::size_t hash = text.find('#');
        AppendQuery(text.substr(1, hash == npos ? npos : hash - 1), encoding, url.Href);
        if (hash != npos) {
            url.FragmentBegin = url.Href.size();
            url.Href.push_back('#');
            AppendEncoded(url.Href, text.substr(hash + 1), FragmentSet);
        }
        return true;
    }
    Shorten(url.Href, url.PathBegin);
    AppendPathQueryFragment(text, url, encoding);
    return true;
}

} // namespace

std::string_view TUrlParser::Clean(std::string_view input, std::string& scratch) {
    input = Trim(input);
    std::size_t first = 0;
    while (first < input.size() && input[first] != '\t' && input[first] != '\n' &&
           input[first] != '\r')
        ++first;
    if (first == input.size())
        return input;
    scratch.clear();
    for (const char c : input)
        if (c != '\t' && c != '\n' && c != '\r')
            scratch.push_back(c);
    return scratch;
}

bool TUrlParser::Parse(std::string_view input, const TUrl* base, TUrl& url,
                       const TPageEncoding* encoding) {
    std::string scratch;
    return ParseClean(Clean(input, scratch), base, url, encoding);
}

bool TUrlParser::ParseClean(std::string_view text, const TUrl* base, TUrl& url,
                            const TPageEncoding* encoding) {
    url.Href.clear();
    url.PathBegin = 0;
    url.QueryBegin = url.FragmentBegin = npos;
    url.Valid = false;
    const bool hasBase = base != nullptr && base->Valid;
    bool parsed = false;
    if (const std::size_t length = SchemeLength(text); length != npos) {
        const std::string_view written = text.substr(0, length);
        const std::string_view scheme = EqualsNoCase(written, "http")    ? "http"
                                        : EqualsNoCase(written, "https") ? "https"
                                                                         : "";
        if (scheme.empty())
            return false;
        const std::string_view rest = text.substr(length + 1);
        if (hasBase && std::string_view(base->Href).starts_with(scheme) &&
            base->Href[scheme.size()] == ':')
            parsed = ParseRelative(rest, *base, url, encoding);
        else
            parsed = ParseAuthority(scheme, SkipSlashes(rest), url, encoding);
    } else if (hasBase) {
        parsed = ParseRelative(text, *base, url, encoding);
    }
    url.Valid = parsed;
    if (!parsed)
        url.Href.clear();
    return parsed;
}

std::string TUrlParser::Resolve(std::string_view input, std::string_view base) {
    TUrl baseUrl, url;
    Parse(base, nullptr, baseUrl);
    Parse(input, &baseUrl, url);
    return url.Href;
}
