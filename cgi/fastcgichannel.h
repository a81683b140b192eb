#pragma once

#include "cgi/exchangechannel.h"

struct FCGX_Request;

namespace tarn {

// One request of a FastCGI connection, accepted by the persistent process: its parameters are
// the environment, its input stream the body and its output stream the answer.
class FastCgiChannel : public ExchangeChannel {
public:
    // A read of the body waits at most waitMs for data, as the body reader's own limit.
    FastCgiChannel(FCGX_Request* request, int waitMs);

    QList<QByteArray> environmentEntries() const override;
    bool inputOpen() const override;
    bool waitReadable(int timeoutMs) override;
    qint64 readSome(char* buffer, int size) override;
    void closeInput() override { m_inputClosed = true; }
    bool outputOpen() const override;
    bool writeAll(const QByteArray& bytes) override;

private:
    int buffered() const;

    FCGX_Request* m_request;
    bool m_inputClosed = false;
    bool m_timedOut = false;
};

} // namespace tarn
