#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class QProcess;

namespace testing_support {

// lighttpd in front of one installation of the program, serving it in the persistent mode
// over FastCGI (one process) on a Unix socket of the installation's folder. Stopped, with
// the program's process, when destroyed.
class WebFront {
public:
    WebFront(const QString& root, const QString& binary);
    ~WebFront();

    QString socketPath() const { return m_root + QStringLiteral("http.sock"); }
    // The process id of the program that lighttpd started (0 when none appears within 5 s).
    qint64 backendPid() const;

private:
    QString m_root;
    QString m_binary;
    std::unique_ptr<QProcess> m_server;
};

// One HTTP/1.0 exchange on a Unix socket, for loops of many requests where starting a client
// process per request would cost more than the request. Returns the whole response, or an
// empty text when the connection failed.
QByteArray httpExchange(const QString& socketPath, const QByteArray& request, int timeoutMs = 60000);

} // namespace testing_support
