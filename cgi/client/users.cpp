// Account commands: the caller's profile, the account list and account changes.
#include "cgi/client/api.h"

#include "app/httporvelaserver.h"
#include "cgi/intrule.h"
#include "db/database.h"
#include "db/jsonrow.h"
#include "db/lockedwrite.h"
#include "db/sqltext.h"

#include <QJsonObject>
#include <QSqlQuery>

#include <climits>

namespace client {

using namespace orvela;

namespace {

const char kDateTimeFormat[] = "yyyy-MM-dd HH:mm:ss";
constexpr qint64 kOnlineSeconds = 240;

// "cgi/client/users" for this file: the record names the source the way a developer finds it.
QString sourceName(const char* file)
{
    const QString path = QString::fromLatin1(file);
    const int start = path.lastIndexOf(QStringLiteral("cgi/client/"));
    const QString relative = start >= 0 ? path.mid(start) : path;
    return relative.left(relative.lastIndexOf(QLatin1Char('.')));
}

QString utcText(const QVariant& value)
{
    QDateTime time = value.toDateTime();
    time.setTimeSpec(Qt::UTC);
    return time.toString(QString::fromLatin1(kDateTimeFormat));
}

// "В сети" while the session was updated within four minutes, with its log-in, log-out and
// address lines.
void addSessionState(const QSqlQuery& query, const QDateTime& now, QJsonObject* row)
{
    const QVariant sessionId = columnValue(query, "SessionId");
    if (sessionId.isNull()) {
        row->insert(QStringLiteral("sessionStatus"), QObject::tr("Не в сети"));
        row->insert(QStringLiteral("sessionLast"), QString(QLatin1String("")));
        return;
    }
    QDateTime updated = columnValue(query, "DateUpd").toDateTime();
    updated.setTimeSpec(Qt::UTC);
    const QString start = QObject::tr("Вход: ") + utcText(columnValue(query, "DateStart"));
    const QString address = QObject::tr("\nIP: ") + columnText(query, "Addr");
    const bool online = sessionId.toLongLong() != 0 && updated.secsTo(now) <= kOnlineSeconds;
    row->insert(QStringLiteral("sessionStatus"), online ? QObject::tr("В сети") : QObject::tr("Не в сети"));
    const QString logout = QObject::tr("\nВыход: ") + utcText(columnValue(query, "DateUpd"));
    row->insert(QStringLiteral("sessionLast"), QString(start + (online ? QString() : logout) + address));
}

// An optional text that the client clears with "NULL" (any case) or by leaving it out.
QString textOrNull(const QString& value)
{
    if (value.isEmpty() || value.trimmed().compare(QLatin1String("NULL"), Qt::CaseInsensitive) == 0) {
        return QStringLiteral("NULL");
    }
    return sqlText(value);
}

bool isKnownType(qint64 type)
{
    return (type >= UserType::Top && type <= UserType::User) ||
           (type >= UserType::CompanyAdministrator && type <= UserType::CompanyUser);
}

// The log-in splits its token at the first ":", trims the login it is sent and looks a login
// with "@" up as a mail, so a login with a colon, an "@" or blanks around it could never log in.
bool isUsableLogin(const QString& login)
{
    return !login.contains(QLatin1Char(':')) && !login.contains(QLatin1Char('@')) && login == login.trimmed();
}

// The log-in trims the password it is sent: one with blanks around it could never match.
bool isUsablePassword(const QString& password)
{
    return password == password.trimmed();
}

} // namespace

// Nobody gives an account more rights than his own, nor a type the program does not know;
// a company-bound caller therefore only makes company-bound accounts.
bool Api::newTypeAllowed(qint64 type)
{
    return isKnownType(type) && type >= user().userType ? true : fail(143);
}

bool Api::failWithSourceLine(quint16 code, const char* file, int line)
{
    req().logError(QObject::tr("Файл:строка > ") + sourceName(file) + QLatin1Char(':') +
                   QString::number(line));
    return fail(code);
}

bool Api::getUserData()
{
    const CurrentUser& user = req().user();
    QJsonObject row;
    row.insert(QStringLiteral("id"), user.id);
    row.insert(QStringLiteral("login"), user.login);
    row.insert(QStringLiteral("mail"), user.mail);
    row.insert(QStringLiteral("phone"), user.phone);
    row.insert(QStringLiteral("status"), user.status);
    row.insert(QStringLiteral("userType"), user.userType);
    row.insert(QStringLiteral("dateReg"), user.dateReg.toString(QString::fromLatin1(kDateTimeFormat)));
    row.insert(QStringLiteral("datePas"), QString(QLatin1String("")));
    row.insert(QStringLiteral("dateActive"), QString(QLatin1String("")));
    row.insert(QStringLiteral("avatarURL"), user.avatarUrl);
    row.insert(QStringLiteral("authToken"), user.authData);
    if (user.isCompanyBound()) {
        row.insert(QStringLiteral("companyId"), user.companyId);
        row.insert(QStringLiteral("companyName"), user.companyName);
        // Accounts carry no employee record or access type of their own yet.
        row.insert(QStringLiteral("sotrudnikId"), 0);
        row.insert(QStringLiteral("accessType"), 0);
    }
    req().appendResponseRow(row);
    return succeed();
}

bool Api::userFilters(QStringList* conditions)
{
    if (user().userType == UserType::CompanyAdministrator) {
        *conditions << QStringLiteral("(u.\"CompanyId\"") + companyMatch(user().companyId) + QLatin1Char(')');
    } else if (given("CompanyId") &&
               text("CompanyId").trimmed().compare(QLatin1String("NULL"), Qt::CaseInsensitive) != 0) {
        const qint64 company = int64Param("CompanyId");
        if (company < 0) {
            return fail(221);
        }
        *conditions << (company == 0 ? QStringLiteral("(u.\"CompanyId\" IS NULL)")
                                     : QStringLiteral("(u.\"CompanyId\" =") + QString::number(company) +
                                           QLatin1Char(')'));
    }
    if (given("UserType")) {
        const qint64 type = int32Param("UserType");
        if (type < 0) {
            return failWithSourceLine(276, __FILE__, __LINE__);
        }
        *conditions << QStringLiteral("(u.\"UserType\"=") + QString::number(type) + QLatin1Char(')');
    }
    if (given("Status")) {
        const qint64 status = int32Param("Status");
        if (status < 0) {
            return failWithSourceLine(160, __FILE__, __LINE__);
        }
        *conditions << QStringLiteral("(u.\"Status\"=") + QString::number(status) + QLatin1Char(')');
    }
    for (const char* column : {"Login", "Mail", "Phone"}) {
        if (given(column)) {
            *conditions << QStringLiteral("(u.\"") + QLatin1String(column) + QStringLiteral("\" like ") +
                               sqlContains(text(column)) + QLatin1Char(')');
        }
    }
    return true;
}

bool Api::getUsersTable()
{
    if (!typeAllowed(UserType::User, UserType::CompanyAdministrator)) {
        return failWithSourceLine(143, __FILE__, __LINE__);
    }
    QStringList conditions;
    if (!userFilters(&conditions)) {
        return false;
    }
    const QString where =
        conditions.isEmpty() ? QString() : QStringLiteral(" where ") + conditions.join(QStringLiteral(" and "));
    const QString sql =
        QStringLiteral("select distinct u.\"Id\", u.\"Login\", u.\"Mail\", u.\"Phone\", u.\"Status\", "
                       "u.\"UserType\", u.\"DateReg\", u.\"CompanyId\", u.\"Note\", s.\"SessionId\", "
                       "s.\"DateStart\", s.\"DateUpd\", s.\"Addr\", c.\"Name\" from \"UserTable\" u "
                       "left join \"SessionTable\" s on (u.\"Id\"=s.\"UserId\") left join "
                       "\"CompanyTable\" c on (u.\"CompanyId\"=c.\"Id\") ") +
        where + QStringLiteral(" order by \"CompanyId\" asc, \"Id\" asc limit 9999;");
    QSqlQuery query = db().newQuery();
    if (!db().select(sql, &query)) {
        req().logError(QStringLiteral("whereStr > ") + where);
        return fail(138);
    }
    const QDateTime now = req().requestTime();
    while (query.next()) {
        JsonRow row(query);
        row.id(QStringLiteral("id"), "Id")
            .text(QStringLiteral("login"), "Login")
            .text(QStringLiteral("mail"), "Mail")
            .text(QStringLiteral("phone"), "Phone")
            .text(QStringLiteral("note"), "Note")
            .number(QStringLiteral("companyId"), "CompanyId")
            .text(QStringLiteral("companyName"), "Name")
            .number(QStringLiteral("userType"), "UserType")
            .number(QStringLiteral("status"), "Status")
            .value(QStringLiteral("dateReg"),
                   columnValue(query, "DateReg").toDateTime().toString(QStringLiteral("yyyy-MM-dd")));
        if (!row.valid()) {
            req().clearResponseData();
            return failWithSourceLine(177, __FILE__, __LINE__);
        }
        QJsonObject object = row.object();
        addSessionState(query, now, &object);
        req().appendResponseRow(object);
    }
    return succeed();
}

bool Api::addUser()
{
    qint64 company = 0;
    if (!allowTypes(UserType::User, UserType::CompanyAdministrator) || !resolveCompanyId(&company)) {
        return false;
    }
    const QString login = text("Login");
    if (login.isEmpty()) {
        return fail(284);
    }
    if (!isUsableLogin(login)) {
        return fail(323);
    }
    LockedWrite write(db(), LockSubject::UserLogin);
    qint64 existing = -1;
    if (!beginWrite(write)) {
        return false;
    }
    const quint16 lookup = db().findRecordId(QStringLiteral("UserTable"),
                                             QStringLiteral("\"Login\"=") + sqlText(login), &existing);
    if (lookup != 0) {
        return fail(lookup);
    }
    if (existing != -1) {
        return fail(154);
    }
    if (!given("Pas")) {
        return fail(218);
    }
    if (!isUsablePassword(text("Pas"))) {
        return fail(326);
    }
    qint64 status = 0;
    if (!requiredId("Status", 9, 160, &status, false)) {
        return false;
    }
    const qint64 userType = int32Param("UserType");
    if (userType < 0) {
        return fail(276);
    }
    if (!newTypeAllowed(userType) || !mayTouchCompany(company, Hold::Link)) {
        return false;
    }
    const QString sql =
        QStringLiteral("insert into \"UserTable\" (\"Login\", \"PasHash\", \"Mail\", \"Phone\", \"Status\", "
                       "\"UserType\", \"DateReg\", \"CompanyId\", \"Note\") values (") +
        sqlText(login) + QStringLiteral(", md5(") + sqlText(text("Pas")) + QStringLiteral("), ") +
        sqlTextOrNull(text("Mail")) + QStringLiteral(", ") + sqlTextOrNull(text("Phone")) +
        QStringLiteral(", ") + QString::number(status) + QStringLiteral(", ") + QString::number(userType) +
        QStringLiteral(", ") +
        sqlText(QDateTime::currentDateTimeUtc().toString(QString::fromLatin1(kDateTimeFormat))) +
        QStringLiteral("::timestamp, ") + sqlIdOrNull(company) + QStringLiteral(", ") +
        sqlTextOrNull(text("Note")) + QStringLiteral(" ) returning \"Id\";");
    qint64 id = 0;
    const quint16 code = write.execAndCommit(sql, &id);
    if (code != 0) {
        return fail(code);
    }
    req().setResponseId(id);
    return succeed();
}

// The type of the account to change. Anyone may change his own account; other accounts are
// for administrators, a company's administrator reaching only accounts of his company.
bool Api::readTargetUser(qint64 userId, int* targetType)
{
    if (userId == user().id) {
        *targetType = user().userType;
        return true;
    }
    if (!allowTypes(UserType::User, UserType::CompanyAdministrator)) {
        return false;
    }
    return mayTouchAccount(userId, Hold::Change, targetType);
}

bool Api::userSetList(qint64 userId, QStringList* items)
{
    if (given("Login")) {
        if (!isUsableLogin(text("Login"))) {
            return fail(323);
        }
        qint64 existing = -1;
        const quint16 lookup = db().findRecordId(
            QStringLiteral("UserTable"), QStringLiteral("\"Login\"=") + sqlText(text("Login")), &existing);
        if (lookup != 0) {
            return fail(lookup);
        }
        if (existing >= 1 && existing != userId) {
            return fail(154);
        }
        *items << QStringLiteral("\"Login\"=") + sqlText(text("Login"));
    }
    if (given("Pas")) {
        if (!isUsablePassword(text("Pas"))) {
            return fail(326);
        }
        *items << QStringLiteral("\"PasHash\"=md5(") + sqlText(text("Pas")) + QLatin1Char(')');
    }
    *items << QStringLiteral("\"Mail\"=") + textOrNull(text("Mail"));
    *items << QStringLiteral("\"Phone\"=") + textOrNull(text("Phone"));
    if (given("Status")) {
        const qint64 status = int32Param("Status");
        if (status < 0) {
            return fail(160);
        }
        *items << QStringLiteral("\"Status\"=") + QString::number(status);
    }
    if (given("UserType")) {
        const qint64 type = int32Param("UserType");
        if (type < 0) {
            return fail(276);
        }
        if (!newTypeAllowed(type)) {
            return false;
        }
        *items << QStringLiteral("\"UserType\"=") + QString::number(type);
    }
    *items << QStringLiteral("\"Note\"=") + textOrNull(text("Note"));
    return userCompanyItem(items);
}

// Only a global caller moves an account to another company, and only to one that exists.
bool Api::userCompanyItem(QStringList* items)
{
    if (user().isCompanyBound() || !given("CompanyId")) {
        return true;
    }
    if (textOrNull(text("CompanyId")) == QStringLiteral("NULL")) {
        *items << QStringLiteral("\"CompanyId\"= NULL");
        return true;
    }
    const qint64 id = int64Param("CompanyId");
    if (id < 0) {
        return fail(221);
    }
    if (!mayTouchCompany(id, Hold::Link)) {
        return false;
    }
    *items << QStringLiteral("\"CompanyId\"= ") + sqlIdOrNull(id);
    return true;
}

bool Api::updUser()
{
    qint64 userId = 0;
    int targetType = 0;
    LockedWrite write(db(), LockSubject::UserLogin);
    if (!requiredId("UserId", 149, 268, &userId) || !beginWrite(write) || !readTargetUser(userId, &targetType)) {
        return false;
    }
    if (user().userType > targetType) {
        return fail(143);
    }
    QStringList items;
    if (!userSetList(userId, &items)) {
        return false;
    }
    return finish(write.execAndCommit(QStringLiteral("UPDATE \"UserTable\" SET ") + items.join(QStringLiteral(", ")) +
                                      QStringLiteral(" WHERE (\"Id\"=") + QString::number(userId) +
                                      QStringLiteral(");")));
}

// The account goes with its sessions, or stays whole.
bool Api::delUser()
{
    qint64 userId = 0;
    int targetType = 0;
    LockedWrite write(db());
    if (!allowTypes(UserType::User, UserType::CompanyAdministrator) || !requiredId("UserId", 149, 268, &userId) ||
        !beginWrite(write) || !mayTouchAccount(userId, Hold::Remove, &targetType)) {
        return false;
    }
    if (user().userType > targetType) {
        return fail(143);
    }
    const QString id = QString::number(userId);
    quint16 code = write.exec(QStringLiteral("delete from \"SessionTable\" where (\"UserId\"=") + id + QStringLiteral(");"));
    if (code == 0) {
        code = write.execAndCommit(QStringLiteral("DELETE FROM \"UserTable\" WHERE \"Id\"=") + id + QLatin1Char(';'));
    }
    return finish(code);
}

} // namespace client
