#include "app/identity.h"
#include "app/operatorcheck.h"
#include "app/persistentserver.h"
#include "app/reference.h"
#include "cgi/client/api.h"

#include <QCoreApplication>
#include <QDir>
#include <QTextCodec>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[])
{
    // A client that goes away must not kill the process before its log is closed: a write
    // to the closed pipe then fails with an error record instead.
    std::signal(SIGPIPE, SIG_IGN);
    // Every CGI request pays the start of the process, so nothing is started that the program
    // does not use: the plain event dispatcher serves the one timer and the FastCGI socket as
    // well as GLib's would. Texts are UTF-8 whatever locale the web server passes, the
    // arguments included.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    qputenv("QT_NO_GLIB", "1");

    QCoreApplication app(argc, argv);
    const QString programDir = QCoreApplication::applicationDirPath();
    QCoreApplication::addLibraryPath(programDir);
    QCoreApplication::addLibraryPath(programDir + QStringLiteral("/lib"));
    QCoreApplication::setApplicationName(orvela::applicationName());
    QCoreApplication::setApplicationVersion(orvela::applicationVersion());
    QCoreApplication::setOrganizationName(QString::fromLatin1(orvela::kOrganisationName));
    QCoreApplication::setOrganizationDomain(QString::fromLatin1(orvela::kOrganisationDomain));

    // A web server may turn a query without "=" into arguments of a CGI program; a request
    // must never choose the program's mode, so options count only outside a CGI exchange.
    const QStringList arguments = qEnvironmentVariableIsSet("GATEWAY_INTERFACE")
                                      ? QStringList{QCoreApplication::applicationFilePath()}
                                      : QCoreApplication::arguments();
    if (orvela::Reference::wanted(arguments)) {
        return orvela::Reference::print(arguments);
    }
    if (orvela::OperatorCheck::wanted(arguments)) {
        return orvela::OperatorCheck::run();
    }
    if (orvela::PersistentServer::wanted(arguments)) {
        orvela::PersistentServer server;
        return server.run(arguments);
    }

    client::Api api;
    QObject::connect(&api, &client::Api::done, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    // The work starts inside the event loop. The timer waits for nothing else, so it fires at
    // once: every millisecond here is paid by every request.
    QTimer::singleShot(0, &api, &client::Api::startProcess);
    app.exec();
    const int code = api.exitCode();
    // The request is answered and its database connection and log are closed. What is left,
    // Qt's and the libraries' own teardown (unloading the driver plugin, freeing what the
    // process is about to lose anyway), only holds up the web server that waits for the exit.
    std::fflush(nullptr);
    std::_Exit(code);
}
