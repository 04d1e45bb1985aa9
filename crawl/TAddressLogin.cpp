#include "TAddressLogin.h"

#include "TAnsiText.h"

#include <algorithm>

namespace {

// Where the host and port end: the first '/', '\', '?' or '#' from start.
std::size_t AuthorityEnd(const QString& address, std::size_t start) {
    std::size_t end = address.size();
    for (const char c : {'/', '\\', '?', '#'}) {
        const auto at = address.indexOf(c, static_cast<qsizetype>(start));
        if (at >= 0)
            end = std::min(end, static_cast<std::size_t>(at));
    }
    return end;
}

// True when what follows the last ':' of host[:port] is not a port number.
bool HasBadPort(const QString& authority) {
    const qsizetype colon = authority.lastIndexOf(':');
    if (colon < 0 || authority.endsWith(']'))
        return false;
    for (qsizetype i = colon + 1; i < authority.size(); ++i)
        if (!authority[i].isDigit())
            return true;
    return false;
}

} // namespace

TRequest::TLogin TAddressLogin::Take(QString& address) {
    const qsizetype authority = address.indexOf("://") + 3;
    std::size_t end = AuthorityEnd(address, static_cast<std::size_t>(authority));
    qsizetype at = address.lastIndexOf('@', static_cast<qsizetype>(end) - 1);
    if (at < authority &&
        HasBadPort(address.mid(authority, static_cast<qsizetype>(end) - authority))) {
        // "user:pa/ss@host": the password holds what would end the host.
        const qsizetype first = address.indexOf('@', authority);
        if (first >= 0) {
            end = AuthorityEnd(address, static_cast<std::size_t>(first));
            at = address.lastIndexOf('@', static_cast<qsizetype>(end) - 1);
        }
    }
    if (at < authority)
        return {};
    const QString userInfo = address.mid(authority, at - authority);
    address.remove(authority, at - authority + 1);
    const qsizetype colon = userInfo.indexOf(':');
    const auto decoded = [](const QString& part) {
        return QByteArray::fromPercentEncoding(part.toUtf8()).toStdString();
    };
    return {TAnsiText::FromTyped(address), decoded(userInfo.left(colon)),
            colon < 0 ? std::string() : decoded(userInfo.mid(colon + 1))};
}

void TAddressLogin::Strip(std::string& address) {
    const std::size_t slashes = address.find("//");
    const std::size_t scheme = address.find(':');
    if (slashes == std::string::npos || scheme == std::string::npos || scheme + 1 != slashes)
        return;
    const std::size_t authority = slashes + 2;
    const std::size_t end = std::min(address.find_first_of("/\\?#", authority), address.size());
    const std::size_t at = address.rfind('@', end == 0 ? 0 : end - 1);
    if (at != std::string::npos && at >= authority && at < end)
        address.erase(authority, at + 1 - authority);
}
