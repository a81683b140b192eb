#pragma once

#include <QFile>

// Under AddressSanitizer memory figures mean nothing: its allocator keeps freed memory in
// quarantine and adds shadow memory of its own. The sanitized run (scripts/test.sh --sanitize)
// leaves them to the normal one.
#ifdef ORVELA_SANITIZED
constexpr bool kMemoryMeasured = false;
#else
constexpr bool kMemoryMeasured = true;
#endif
#define SKIP_UNLESS_MEMORY_MEASURED()                                                  \
    if (!kMemoryMeasured) {                                                            \
        GTEST_SKIP() << "memory is measured by the build without sanitizers";          \
    }

// A memory figure of a process (this one for 0) in KB, as /proc reports it: "VmRSS:" is what
// it holds now, "VmHWM:" the most it has held; -1 when it cannot be read.
inline qint64 statusKb(qint64 pid, const QByteArray& field)
{
    QFile status(QStringLiteral("/proc/%1/status")
                     .arg(pid ? QString::number(pid) : QStringLiteral("self")));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field)) {
            return line.mid(field.size()).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return -1;
}

inline qint64 residentKb(qint64 pid = 0)
{
    return statusKb(pid, "VmRSS:");
}
