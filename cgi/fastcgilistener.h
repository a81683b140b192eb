#pragma once

#include "cgi/fastcgichannel.h"

#include <QString>

#include <memory>

namespace tarn {

// The FastCGI side of a persistent process: the listening socket (standard input, as a web
// server or a process manager hands it over, or an address of its own) and the request that
// is being served.
class FastCgiListener {
public:
    FastCgiListener();
    ~FastCgiListener();

    // Whether the process was started with a FastCGI listening socket as standard input.
    static bool startedWithListeningSocket();

    // Listens on standard input when the address is empty, otherwise on "host:port", ":port"
    // or a Unix socket path. False with the reason.
    bool listen(const QString& address, QString* error);
    // Waits for the next request; false when the process is to stop (SIGTERM, SIGINT or
    // SIGUSR1, taken only while waiting, or a failed listening socket).
    bool accept();
    // The channel of the accepted request, valid until finish().
    ExchangeChannel* channel() { return m_channel.get(); }
    // Completes the accepted request towards the web server.
    void finish();

private:
    std::unique_ptr<FCGX_Request> m_request;
    std::unique_ptr<FastCgiChannel> m_channel;
};

} // namespace tarn
