#pragma once

#include <QByteArray>
#include <QList>

namespace tarn {

// Where one exchange reads its request and writes its answer: the process's own environment
// and standard streams when the program runs as a CGI process, or one request of a FastCGI
// connection when it stays running. The exchange reads and writes only through this.
class ExchangeChannel {
public:
    virtual ~ExchangeChannel() = default;

    // "NAME=value" entries of the request's environment.
    virtual QList<QByteArray> environmentEntries() const = 0;

    virtual bool inputOpen() const = 0;
    // True when a read will not block (data or the end of input), after at most timeoutMs.
    virtual bool waitReadable(int timeoutMs) = 0;
    // One read of at most size bytes: 0 at the end of input, -1 on a read error.
    virtual qint64 readSome(char* buffer, int size) = 0;
    // Nothing more is read from this request.
    virtual void closeInput() = 0;

    virtual bool outputOpen() const = 0;
    // Writes all bytes; false when the client has gone away.
    virtual bool writeAll(const QByteArray& bytes) = 0;
};

} // namespace tarn
