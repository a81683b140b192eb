#include "support/webfront.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace testing_support {

namespace {

int connectTo(const QString& socketPath)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(socketPath);
    ::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool acceptsConnections(const QString& socketPath)
{
    const int fd = connectTo(socketPath);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

QString lighttpdConfig(const QString& root, const QString& binary, const QString& socket)
{
    return QStringLiteral(
               "server.modules = (\"mod_fastcgi\")\n"
               "server.bind = \"%1\"\n"
               "server.document-root = \"%2\"\n"
               "server.errorlog = \"%2lighttpd.log\"\n"
               "server.pid-file = \"%2lighttpd.pid\"\n"
               "server.max-request-size = 1048576\n"
               // Requests reach the program as they were sent; lighttpd would otherwise
               // refuse some encodings (invalid UTF-8 in the query) before the program sees them.
               "server.http-parseopts = (\"url-normalize\" => \"disable\")\n"
               "fastcgi.server = (\"/orvela\" => ((\"socket\" => \"%2fcgi.sock\", \"bin-path\" => "
               "\"%3\", \"max-procs\" => 1, \"check-local\" => \"disable\")))\n")
        .arg(socket, root, binary);
}

} // namespace

WebFront::WebFront(const QString& root, const QString& binary)
    : m_root(root), m_binary(binary), m_server(std::make_unique<QProcess>())
{
    QFile config(m_root + QStringLiteral("lighttpd.conf"));
    config.open(QIODevice::WriteOnly | QIODevice::Truncate);
    config.write(lighttpdConfig(m_root, m_binary, socketPath()).toUtf8());
    config.close();
    m_server->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_server->start(QStringLiteral("lighttpd"), {QStringLiteral("-D"), QStringLiteral("-f"), config.fileName()});
    m_server->waitForStarted(10000);
    QElapsedTimer timer;
    timer.start();
    // The socket file appears when lighttpd binds it, before it listens and has started the
    // program: only an accepted connection tells that it serves.
    while (!acceptsConnections(socketPath()) && timer.elapsed() < 20000 &&
           m_server->state() == QProcess::Running) {
        QThread::msleep(5);
    }
    if (!acceptsConnections(socketPath())) {
        ADD_FAILURE() << "lighttpd did not start (exit " << m_server->exitCode() << "): "
                      << m_server->readAllStandardOutput().constData();
    }
}

WebFront::~WebFront()
{
    if (m_server->state() != QProcess::NotRunning) {
        m_server->terminate();
        if (!m_server->waitForFinished(10000)) {
            m_server->kill();
            m_server->waitForFinished();
        }
    }
}

qint64 WebFront::backendPid() const
{
    // lighttpd forks its FastCGI process and execs the program on its own time: until the
    // exec the child carries lighttpd's name, so look again for a while before giving up.
    for (int attempt = 0; attempt < 100; ++attempt) {
        QProcess pgrep;
        pgrep.start(QStringLiteral("pgrep"), {QStringLiteral("-P"), QString::number(m_server->processId()),
                                              QStringLiteral("-x"), QStringLiteral("orvela")});
        pgrep.waitForFinished();
        if (const qint64 pid = pgrep.readAllStandardOutput().trimmed().toLongLong()) {
            return pid;
        }
        QThread::msleep(50);
    }
    return 0;
}

QByteArray httpExchange(const QString& socketPath, const QByteArray& request, int timeoutMs)
{
    const int fd = connectTo(socketPath);
    if (fd < 0) {
        return QByteArray();
    }
    qint64 sent = 0;
    while (sent < request.size()) {
        const ssize_t n = ::write(fd, request.constData() + sent, static_cast<size_t>(request.size() - sent));
        if (n <= 0 && errno != EINTR) {
            break;
        }
        sent += qMax<ssize_t>(n, 0);
    }
    QByteArray response;
    char buffer[16384];
    pollfd entry{fd, POLLIN, 0};
    while (::poll(&entry, 1, timeoutMs) > 0) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        response.append(buffer, static_cast<int>(n));
    }
    ::close(fd);
    return response;
}

} // namespace testing_support
