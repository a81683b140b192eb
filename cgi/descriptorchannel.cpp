#include "cgi/descriptorchannel.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

extern char** environ;

namespace tarn {

void DescriptorChannel::setEnvironmentEntries(const QList<QByteArray>& entries)
{
    m_useInjectedEnvironment = true;
    m_injectedEnvironment = entries;
}

QList<QByteArray> DescriptorChannel::environmentEntries() const
{
    if (m_useInjectedEnvironment) {
        return m_injectedEnvironment;
    }
    QList<QByteArray> entries;
    for (char** entry = environ; entry && *entry; ++entry) {
        entries.append(QByteArray(*entry));
    }
    return entries;
}

bool DescriptorChannel::inputOpen() const
{
    return ::fcntl(m_inputFd, F_GETFD) >= 0;
}

bool DescriptorChannel::waitReadable(int timeoutMs)
{
    pollfd entry{m_inputFd, POLLIN, 0};
    int rc;
    do {
        rc = ::poll(&entry, 1, timeoutMs);
    } while (rc < 0 && errno == EINTR);
    return rc > 0;
}

qint64 DescriptorChannel::readSome(char* buffer, int size)
{
    ssize_t got;
    do {
        got = ::read(m_inputFd, buffer, static_cast<size_t>(size));
    } while (got < 0 && errno == EINTR);
    return got;
}

void DescriptorChannel::closeInput()
{
    ::close(m_inputFd);
}

bool DescriptorChannel::outputOpen() const
{
    return ::fcntl(m_outputFd, F_GETFD) >= 0;
}

// A pipe takes a large answer in pieces; a reader that takes nothing for many attempts in a
// row has gone, and the answer is given up rather than waited for.
bool DescriptorChannel::writeAll(const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qint64 left = bytes.size();
    const int attempts = bytes.size() / 1024 + 10;
    for (int attempt = 0; attempt < attempts && left > 0; ++attempt) {
        const ssize_t written = ::write(m_outputFd, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        left -= written;
    }
    return left == 0;
}

void DescriptorChannel::closeProcessOutput()
{
    std::fflush(stdout);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, STDOUT_FILENO);
        ::close(null);
    }
}

} // namespace tarn
