#include "TSiteKey.h"

#include <QString>
#include <QUrl>

#include <string_view>

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

// The key of an http or https address whose host is plain ASCII (as every
// address the parser gives is): read in place, a merge asks it of every link.
// False when the address needs the URL parser.
bool PlainKey(std::string_view address, std::string& key) {
    int defaultPort = 0;
    std::size_t from = 0;
    if (StartsWithNoCase(address, "http://")) {
        defaultPort = 80;
        from = 7;
    } else if (StartsWithNoCase(address, "https://")) {
        defaultPort = 443;
        from = 8;
    } else {
        return false;
    }
    const std::size_t end = address.find_first_of("/?#", from);
    const std::string_view authority =
        address.substr(from, end == std::string_view::npos ? std::string_view::npos : end - from);
    const std::size_t colon = authority.find(':');
    const std::string_view host = authority.substr(0, colon);
    if (host.empty())
        return false;
    for (const char c : host) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_';
        if (!plain)
            return false; // a login, an IPv6 address, an escape, a character elsewhere
    }
    int port = -1;
    if (colon != std::string_view::npos) {
        const std::string_view digits = authority.substr(colon + 1);
        if (digits.size() > 5)
            return false;
        for (const char c : digits) {
            if (c < '0' || c > '9')
                return false;
            port = (port < 0 ? 0 : port * 10) + (c - '0');
        }
        if (port > 65535)
            return false;
    }
    key.assign(host);
    for (char& c : key)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    if (port >= 0 && port != defaultPort)
        key += ':' + std::to_string(port);
    return true;
}

} // namespace

std::string TSiteKey::Of(const std::string& address) {
    if (std::string key; PlainKey(address, key))
        return key;
    const QUrl url(QString::fromUtf8(address.data(), static_cast<qsizetype>(address.size())),
                   QUrl::TolerantMode);
    const QString host = url.host().toLower();
    if (host.isEmpty())
        return {};
    const QString scheme = url.scheme().toLower();
    const int port = url.port();
    const bool byDefault =
        port < 0 || (scheme == "http" && port == 80) || (scheme == "https" && port == 443);
    return (byDefault ? host : host + ':' + QString::number(port)).toStdString();
}
