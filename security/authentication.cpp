#include "security/authentication.h"

#include "app/httporvelaserver.h"
#include "db/sqltext.h"
#include "security/crypto.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>

namespace orvela {

namespace {

constexpr int kHashLength = 32;

quint16 decodeToken(HttpOrvelaServer& request, const QString& token)
{
    CurrentUser& user = request.user();
    user.authData = token.trimmed();
    return readToken(user.authData, request.config().keyText, &user.login, &user.passwordHash);
}

quint16 decodePassword(HttpOrvelaServer& request, const QString& command)
{
    if (command != QStringLiteral("Get_UserData") && command != QStringLiteral("Get_AbonentData")) {
        // The code's text speaks of "AuthData"; the parameter clients send is "Auth".
        request.setResponseText(QObject::tr("Не передан токен авторизации: параметр Auth."));
        return 136;
    }
    const QString login = request.parameterText(QStringLiteral("Login")).trimmed();
    if (login.isEmpty()) {
        return 284;
    }
    const QString password = request.parameterText(QStringLiteral("Password"));
    if (password.isEmpty()) {
        return 218;
    }
    CurrentUser& user = request.user();
    user.login = login;
    user.passwordHash = tarn::md5Hex(password.trimmed());
    tarn::Crypto crypto;
    if (!crypto.encryptText(user.login + QLatin1Char(':') + user.passwordHash,
                            request.config().keyText, &user.authData)) {
        return 218;
    }
    return 0;
}

QString avatarUrl(const HttpOrvelaServer& request, qint64 userId)
{
    const QString fileName = avatarFileName(userId);
    const QString path =
        QDir::toNativeSeparators(request.config().baseDir + QStringLiteral("images/avatar/") + fileName);
    if (!QFileInfo(path).isFile()) {
        return QString();
    }
    return request.environmentValue(QStringLiteral("REQUEST_SCHEME")) + QStringLiteral("://") +
           request.environmentValue(QStringLiteral("SERVER_NAME")) +
           request.environmentValue(QStringLiteral("CONTEXT_PREFIX")) +
           QStringLiteral("/images/avatar/") + fileName;
}

QString hex(qint64 value, int digits)
{
    return QStringLiteral("0x") +
           QStringLiteral("%1").arg(static_cast<quint64>(value), digits, 16, QLatin1Char('0')).toUpper();
}

void noteCompany(HttpOrvelaServer& request)
{
    const CurrentUser& user = request.user();
    request.logDebug(QStringLiteral("CompanyId=") + hex(user.companyId, 16) +
                     QStringLiteral(", CompanyName=") + user.companyName +
                     QStringLiteral(", UserType=") + hex(user.userType, 4));
}

qint64 companyIdOf(const QVariant& companyValue)
{
    bool converted = false;
    const qint64 companyId = companyValue.toLongLong(&converted);
    return companyValue.isNull() || !converted ? 0 : companyId;
}

// Reads the company's name on its own; false when the statement fails.
bool readCompany(HttpOrvelaServer& request, const QVariant& companyValue)
{
    CurrentUser& user = request.user();
    user.companyId = companyIdOf(companyValue);
    if (user.companyId == 0) {
        return true;
    }
    QSqlQuery query = request.db().newQuery();
    const bool ok = request.db().select(QStringLiteral("SELECT \"Name\" FROM \"CompanyTable\" "
                                                       "WHERE (\"Id\"=") +
                                            QString::number(user.companyId) +
                                            QStringLiteral(") LIMIT 1;"),
                                        &query);
    if (ok && query.next()) {
        user.companyName = query.value(0).toString();
    }
    noteCompany(request);
    return ok;
}

// The account by its login or mail and password hash; with the company's name when asked.
QString userSql(const CurrentUser& user, bool withCompany)
{
    const QString column = user.login.contains(QLatin1Char('@')) ? QStringLiteral("\"Mail\"")
                                                                 : QStringLiteral("\"Login\"");
    const QString company = withCompany ? QStringLiteral(", (SELECT c.\"Name\" FROM \"CompanyTable\" c WHERE "
                                                         "c.\"Id\"=u.\"CompanyId\" LIMIT 1) AS \"CompanyName\"")
                                        : QString();
    // Two accounts may share a mail: the one made first answers, always the same one.
    return QStringLiteral("SELECT \"Id\", \"Login\", \"Mail\", \"Phone\", \"Status\", \"UserType\", "
                          "\"DateReg\", \"CompanyId\"") +
           company + QStringLiteral(" FROM \"UserTable\" u WHERE (") + column + QLatin1Char('=') + sqlText(user.login) +
           QStringLiteral(") AND (\"PasHash\"=") + sqlText(user.passwordHash) +
           QStringLiteral(") ORDER BY \"Id\" LIMIT 1;");
}

quint16 statusCode(int status)
{
    switch (status) {
    case 1:
        return 0;
    case 0:
        return 212;
    case 2:
        return 140;
    default:
        return 233;
    }
}

} // namespace

quint16 readToken(const QString& token, const QString& keyText, QString* login, QString* passwordHash)
{
    tarn::Crypto crypto;
    QString plain;
    if (!crypto.decryptText(token.trimmed(), keyText, &plain)) {
        return 134;
    }
    if (plain.isEmpty()) {
        return 137;
    }
    const int colon = plain.indexOf(QLatin1Char(':'));
    if (colon <= 0 || plain.size() - colon - 1 != kHashLength) {
        return 135;
    }
    *login = plain.left(colon);
    *passwordHash = plain.mid(colon + 1);
    return 0;
}

QString avatarFileName(qint64 userId)
{
    return QStringLiteral("%1").arg(static_cast<quint64>(userId), 16, 16, QLatin1Char('0')).toUpper() +
           QStringLiteral(".png");
}

quint16 decodeCredentials(HttpOrvelaServer& request)
{
    request.user().id = 0;
    request.user().authData.clear();
    const QString token = request.parameterText(QStringLiteral("Auth"));
    const QString command = request.parameterText(QStringLiteral("CMD"));
    return token.isEmpty() ? decodePassword(request, command) : decodeToken(request, token);
}

bool lookupUser(HttpOrvelaServer& request)
{
    CurrentUser& user = request.user();
    user.id = 0;
    user.companyId = 0;
    request.logDebug(QObject::tr("Логин пользователя: ") + user.login);
    // The company's name comes with the account, which saves a statement on every request.
    // Should that statement fail, the account and the company are read apart, so that a fault
    // of the company table is still told from one of the accounts.
    QSqlQuery query = request.db().newQuery();
    const bool withCompany = request.db().select(userSql(user, true), &query);
    if (!withCompany && !request.db().select(userSql(user, false), &query)) {
        request.answerError(138);
        return false;
    }
    if (!query.next()) {
        request.logDebug(QObject::tr("Пользователь не найден в БД PostgreSql."));
        request.answerError(139);
        return false;
    }
    user.id = query.value(0).toLongLong();
    user.login = query.value(1).toString();
    user.mail = query.value(2).toString();
    user.phone = query.value(3).toString();
    user.status = query.value(4).toInt();
    user.userType = query.value(5).toInt();
    user.dateReg = query.value(6).toDateTime();
    user.avatarUrl = avatarUrl(request, user.id);
    const quint16 refusal = statusCode(user.status);
    if (refusal != 0) {
        request.answerError(refusal);
        return false;
    }
    if (withCompany) {
        user.companyId = companyIdOf(query.value(7));
        user.companyName = user.companyId == 0 ? QString() : query.value(8).toString();
        if (user.companyId != 0) {
            noteCompany(request);
        }
    } else if (!readCompany(request, query.value(7))) {
        request.answerError(260);
        return false;
    }
    request.setResultCode(0);
    return true;
}

} // namespace orvela
