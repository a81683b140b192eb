#include "app/identity.h"

#include <QObject>

namespace orvela {

QString versionFromRelease(const QString& prefix, const QString& releaseDate)
{
    return prefix + QLatin1Char('.') + releaseDate.mid(2, 2) + QLatin1Char('.') +
           releaseDate.mid(5, 2) + releaseDate.mid(8, 2);
}

QString applicationVersion()
{
    return versionFromRelease(QString::fromLatin1(kVersionPrefix),
                              QString::fromLatin1(kReleaseDate));
}

QString applicationName()
{
    return QObject::tr("ОРВЕЛА Сервер");
}

} // namespace orvela
