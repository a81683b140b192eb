#include "cgi/fastcgichannel.h"

#include <fcgiapp.h>

#include <cerrno>
#include <sys/socket.h>

namespace tarn {

FastCgiChannel::FastCgiChannel(FCGX_Request* request, int waitMs) : m_request(request)
{
    timeval limit{waitMs / 1000, (waitMs % 1000) * 1000};
    ::setsockopt(m_request->ipcFd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

QList<QByteArray> FastCgiChannel::environmentEntries() const
{
    QList<QByteArray> entries;
    for (char** entry = m_request->envp; entry && *entry; ++entry) {
        entries.append(QByteArray(*entry));
    }
    return entries;
}

bool FastCgiChannel::inputOpen() const
{
    return !m_inputClosed && m_request->in != nullptr;
}

// Bytes of the body already received and not yet read.
int FastCgiChannel::buffered() const
{
    const FCGX_Stream* in = m_request->in;
    return static_cast<int>(in->stop - in->rdNext);
}

// The library keeps more of the connection than the current record in a buffer of its own,
// so the connection cannot be asked whether data waits. Instead the next byte is taken in,
// which waits at most the receive limit of the socket, and put back. A read that timed out
// leaves no data: the body reader's time limits then end the request as they would in CGI.
bool FastCgiChannel::waitReadable(int)
{
    FCGX_Stream* in = m_request->in;
    if (m_timedOut) {
        return false;
    }
    if (buffered() > 0 || in->isClosed) {
        return true;
    }
    const int byte = FCGX_GetChar(in);
    if (byte != EOF) {
        FCGX_UnGetChar(byte, in);
        return true;
    }
    const int error = FCGX_GetError(in);
    m_timedOut = error == EAGAIN || error == EWOULDBLOCK;
    return !m_timedOut;
}

// FCGX_GetStr waits until it has all bytes asked for, so only what is buffered is asked for,
// or a single byte, which makes the library take in the next record.
qint64 FastCgiChannel::readSome(char* buffer, int size)
{
    if (size <= 0) {
        return 0;
    }
    FCGX_Stream* in = m_request->in;
    int got = 0;
    if (buffered() == 0) {
        got = FCGX_GetStr(buffer, 1, in);
        if (got <= 0) {
            return FCGX_GetError(in) != 0 ? -1 : 0;
        }
    }
    const int more = qMin(size - got, buffered());
    if (more > 0) {
        got += FCGX_GetStr(buffer + got, more, in);
    }
    return got;
}

bool FastCgiChannel::outputOpen() const
{
    return m_request->out != nullptr && !m_request->out->isClosed;
}

// The library sends the answer in pieces of its buffer and the last piece when the request is
// finished, after its log is closed: the web server's client then never sees an answer whose
// request is still being recorded. A client gone away by then is the web server's to notice.
bool FastCgiChannel::writeAll(const QByteArray& bytes)
{
    FCGX_Stream* out = m_request->out;
    return FCGX_PutStr(bytes.constData(), bytes.size(), out) == bytes.size() &&
           FCGX_GetError(out) == 0;
}

} // namespace tarn
