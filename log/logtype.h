#pragma once

#include <QMetaType>
#include <QString>

// Kind of a log record; the value selects the tag written after the time stamp.
enum LogType {
    LogInfo = 0,
    LogWarning = 1,
    LogError = 2,
    LogIncoming = 3,
    LogOutgoing = 4,
    LogText = 5,
    LogDebug = 6,
};

Q_DECLARE_METATYPE(LogType)

// The tag of a record type, "[inf] " and so on; empty for values outside the enumeration.
QString logTypeTag(int type);
