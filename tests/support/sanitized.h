#pragma once

#include <QFile>

#include <csignal>

// Under AddressSanitizer memory figures mean nothing: its allocator keeps freed memory in
// quarantine and adds shadow memory of its own. The sanitized run (scripts/test.sh --sanitize)
// leaves them to the normal one.
// A crash the tests cause from outside: under AddressSanitizer a SIGSEGV would be reported as a
// fault of the program, which the sanitized run counts.
#ifdef ORVELA_SANITIZED
constexpr bool kMemoryMeasured = false;
constexpr int kCrashSignal = SIGKILL;
#else
constexpr bool kMemoryMeasured = true;
constexpr int kCrashSignal = SIGSEGV;
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
