#pragma once

#include "db/keptconnection.h"

#include <QStringList>

namespace orvela {

// The persistent mode: one process serves request after request over FastCGI. Each request
// gets a command runner and a request object of its own, as a CGI process would; only the
// database connection is kept between them.
class PersistentServer {
public:
    // Whether this process serves FastCGI: asked for with --fastcgi (standard input) or
    // --fastcgi=ADDRESS, or started by a web server with a listening socket as standard input.
    static bool wanted(const QStringList& arguments);
    // Serves until the web server stops the process; returns the exit status.
    int run(const QStringList& arguments);

private:
    static QString listenAddress(const QStringList& arguments);

    KeptConnection m_connection;
    KeptConnection m_reading{KeptConnection::Kind::Reading};
};

} // namespace orvela
