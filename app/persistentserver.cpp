#include "app/persistentserver.h"

#include "app/heaprelease.h"

#include "cgi/client/api.h"
#include "cgi/fastcgilistener.h"
#include "log/logretention.h"

#include <QDateTime>

#include <cstdio>

namespace orvela {

namespace {
const QString kOption = QStringLiteral("--fastcgi");
} // namespace

bool PersistentServer::wanted(const QStringList& arguments)
{
    if (arguments.size() >= 2) {
        const QString argument = arguments.at(1).toLower();
        return argument == kOption || argument.startsWith(kOption + QLatin1Char('='));
    }
    return tarn::FastCgiListener::startedWithListeningSocket();
}

QString PersistentServer::listenAddress(const QStringList& arguments)
{
    const QString argument = arguments.value(1);
    const int equals = argument.indexOf(QLatin1Char('='));
    return equals < 0 ? QString() : argument.mid(equals + 1);
}

int PersistentServer::run(const QStringList& arguments)
{
    tarn::FastCgiListener listener;
    QString error;
    if (!listener.listen(listenAddress(arguments), &error)) {
        std::fprintf(stderr, "orvela: %s\n", qPrintable(error));
        return 1;
    }
    HeapRelease heap;
    while (listener.accept()) {
        ServerConfig served;
        {
            client::Api api;
            served = api.serve(listener.channel(), &m_connection, &m_reading);
        }
        listener.finish();
        heap.afterRequest();
        // The client has its answer: old logs are looked at between requests.
        tarn::LogRetention::sweepIfDue(served.logDir(), served.logKeepDays, QDateTime::currentDateTimeUtc());
    }
    return 0;
}

} // namespace orvela
