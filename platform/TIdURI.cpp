#include "TIdURI.h"

#include <QString>
#include <QUrl>

TIdURI::TIdURI(const std::string& uri) {
    const QUrl url(QString::fromUtf8(uri.data(), static_cast<qsizetype>(uri.size())),
                   QUrl::TolerantMode);
    FHost = url.host().toLower().toStdString();
}
