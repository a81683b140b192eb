// Process start-up and the road of one request (part of client::Api).
#include "cgi/client/api.h"

#include "app/httporvelaserver.h"
#include "app/commandline.h"
#include "app/identity.h"
#include "cgi/descriptorchannel.h"
#include "log/logretention.h"
#include "readings/unitsettings.h"
#include "security/authentication.h"

#include <QCoreApplication>
#include <QDateTime>

#include <cstdio>

namespace client {

using orvela::HttpOrvelaServer;

Api::Api(QObject* parent) : QObject(parent) {}

Api::~Api() = default;

void Api::startProcess()
{
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 2) {
        m_server = new HttpOrvelaServer(this);
        processRequest();
        const orvela::ServerConfig config = req().config();
        delete m_server;
        m_server = nullptr;
        // The web server has the whole answer before old logs are looked at.
        tarn::DescriptorChannel::closeProcessOutput();
        tarn::LogRetention::sweepIfDue(config.logDir(), config.logKeepDays, QDateTime::currentDateTimeUtc());
    } else {
        m_exitCode = orvela::CommandLine::answer(arguments.at(1));
    }
    emit done();
}

orvela::ServerConfig Api::serve(tarn::ExchangeChannel* channel, orvela::KeptConnection* connection,
                                 orvela::KeptConnection* reading)
{
    m_server = new HttpOrvelaServer(this, channel, connection, reading);
    processRequest();
    const orvela::ServerConfig config = req().config();
    delete m_server;
    m_server = nullptr;
    return config;
}

// The built-in commands that answer without credentials, command table or database.
bool Api::answerTestCommand()
{
    const QString command = req().parameterText(QStringLiteral("CMD")).trimmed().toLower();
    req().setResponseText(QString());
    if (command == QStringLiteral("test")) {
        req().logInfo(QObject::tr("Команда для проверки."));
        req().setResponseText(QObject::tr("Версия ПО: ") + orvela::applicationVersion() +
                              QObject::tr(", Дата релиза: ") +
                              QString::fromLatin1(orvela::kReleaseDate) + QLatin1Char('.'));
    } else if (command == QStringLiteral("get_servertime") ||
               command == QStringLiteral("getservertime") ||
               command == QStringLiteral("servertime")) {
        req().logInfo(QObject::tr("Команда проверки времени сервера."));
        req().setResponseText(QObject::tr("Время сервера UTC: ") +
                              QDateTime::currentDateTimeUtc().toString(
                                  QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    } else if (command == QStringLiteral("debug")) {
        req().logInfo(QObject::tr("Команда для отладки."));
        req().setResponseText(QStringLiteral("Hello, world!"));
    }
    if (req().responseText().isEmpty()) {
        return false;
    }
    req().setAnswered();
    emit req().toLog(LogText, req().responseText());
    req().setResultType(orvela::ResultType::Info);
    req().sendResponse();
    return true;
}

// PostgreSQL text cannot hold a NUL character, so a value with one could only be stored
// changed (a password would then never match again). Such a request is refused with the
// format code of the parameter, or as an unreadable request.
bool Api::refuseNulCharacters()
{
    const QString name = req().parameterWithNul();
    if (name.isEmpty()) {
        return false;
    }
    static const QHash<QString, quint16> formatCodes = {
        {QStringLiteral("Login"), 323}, {QStringLiteral("Password"), 326}, {QStringLiteral("Pas"), 326},
        {QStringLiteral("PasOld"), 326}, {QStringLiteral("Name"), 322}, {QStringLiteral("Mail"), 324},
        {QStringLiteral("Phone"), 325}, {QStringLiteral("Note"), 327}, {QStringLiteral("DATA"), 157}};
    req().logError(QObject::tr("Недопустимый символ NUL в параметре ") + name);
    req().answerError(formatCodes.value(name, 208));
    return true;
}

void Api::processRequest()
{
    HttpOrvelaServer& request = req();
    bool readOk = false;
    request.readRequest(&readOk);
    if (!readOk) {
        request.logError(request.errorText());
        // The code's message is fixed; the text tells the client what exactly was wrong.
        request.setResponseText(request.errorText());
        if (!request.errorDetail().isEmpty()) {
            request.logError(request.errorDetail());
            request.setResponseText(request.errorText() + QLatin1Char(' ') + request.errorDetail());
        }
        request.answerError(208);
        return;
    }
    if (request.config().httpsOnly &&
        request.environmentValue(QStringLiteral("HTTPS")).isEmpty()) {
        request.answerError(130);
        return;
    }
    if (!request.config().getEnabled &&
        request.environmentValue(QStringLiteral("REQUEST_METHOD")) == QStringLiteral("GET")) {
        request.answerError(25);
        return;
    }
    if (answerTestCommand() || refuseNulCharacters()) {
        return;
    }
    const quint16 credentialsCode = orvela::decodeCredentials(request);
    if (credentialsCode != 0) {
        request.answerError(credentialsCode);
        return;
    }
    const QString command = request.parameterText(QStringLiteral("CMD"));
    if (command.isEmpty()) {
        request.logError(QObject::tr("Не найден основной параметр запроса 'CMD'."));
        request.answerError(2);
        return;
    }
    request.setResultCode(0);
    if (!checkCommand(command)) {
        return;
    }
    if (!orvela::readUserUnitSettings(request)) {
        return;
    }
    if (!request.connectDatabase(commandChangesNothing(command))) {
        return;
    }
    if (!orvela::lookupUser(request)) {
        return;
    }
    dispatchCommand(command);
}

} // namespace client
