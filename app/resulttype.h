#pragma once

#include <QString>

namespace orvela {

// Kind of an answer, sent as "resultType".
enum class ResultType { Ok = 0, Info = 1, Table = 2, Error = 3 };

inline QString resultTypeText(ResultType type)
{
    switch (type) {
    case ResultType::Ok:
        return QStringLiteral("OK");
    case ResultType::Info:
        return QStringLiteral("INFO");
    case ResultType::Table:
        return QStringLiteral("TABLE");
    case ResultType::Error:
        return QStringLiteral("ERROR");
    }
    return QString();
}

} // namespace orvela
