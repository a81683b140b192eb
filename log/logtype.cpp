#include "log/logtype.h"

QString logTypeTag(int type)
{
    switch (type) {
    case LogInfo:
        return QStringLiteral("[inf] ");
    case LogWarning:
        return QStringLiteral("[wrn] ");
    case LogError:
        return QStringLiteral("[err] ");
    case LogIncoming:
        return QStringLiteral("[<<<] ");
    case LogOutgoing:
        return QStringLiteral("[>>>] ");
    case LogText:
        return QStringLiteral("[txt] ");
    case LogDebug:
        return QStringLiteral("[dbg] ");
    default:
        return QString();
    }
}
