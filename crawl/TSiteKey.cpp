#include "TSiteKey.h"

#include <QString>
#include <QUrl>

std::string TSiteKey::Of(const std::string& address) {
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
