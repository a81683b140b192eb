// Companies: the organisations that own addresses, devices and accounts.
#include "cgi/client/api.h"

#include "app/httporvelaserver.h"
#include "db/database.h"
#include "db/jsonrow.h"
#include "db/lockedwrite.h"
#include "db/sqltext.h"

#include <QJsonObject>
#include <QSqlQuery>

namespace client {

using namespace orvela;

bool Api::getCompanyTable()
{
    if (!allowTypes(UserType::User, kNoCompanyBound)) {
        return false;
    }
    QStringList conditions;
    for (const char* column : {"Name", "Mail", "Phone"}) {
        const QString filter = textFilter(QStringLiteral("c.\"") + QLatin1String(column) + QLatin1Char('"'), "", column);
        if (!filter.isEmpty()) {
            conditions << filter.mid(5); // without the leading " AND "
        }
    }
    const QString sql =
        QStringLiteral("SELECT DISTINCT c.\"Id\", c.\"Name\", c.\"Address\", c.\"Mail\", c.\"Phone\", "
                       "c.\"Note\" FROM \"CompanyTable\" c ") +
        (conditions.isEmpty() ? QString() : QStringLiteral(" where ") + conditions.join(QStringLiteral(" and "))) +
        QStringLiteral(" ORDER BY \"Id\" ASC LIMIT 9999;");
    return appendRows(sql, 260, [](const QSqlQuery& query, QJsonObject* object) {
        JsonRow row(query);
        row.id(QStringLiteral("id"), "Id")
            .text(QStringLiteral("name"), "Name")
            .text(QStringLiteral("mail"), "Mail")
            .text(QStringLiteral("phone"), "Phone")
            .text(QStringLiteral("address"), "Address")
            .text(QStringLiteral("note"), "Note");
        *object = row.object();
        return row.valid();
    });
}

bool Api::getCompanyList()
{
    if (!allowTypes(UserType::User, kNoCompanyBound)) {
        return false;
    }
    return appendRows(QStringLiteral("SELECT DISTINCT c.\"Id\", c.\"Name\" FROM \"CompanyTable\" c ORDER BY "
                                     "\"Name\" ASC LIMIT 9999;"),
                      260, [](const QSqlQuery& query, QJsonObject* object) {
                          JsonRow row(query);
                          row.id(QStringLiteral("id"), "Id").text(QStringLiteral("name"), "Name");
                          *object = row.object();
                          return row.valid();
                      });
}

// The company's optional texts are never NULL: a field left out is stored empty.
bool Api::addCompany()
{
    if (!allowTypes(UserType::Operator, kNoCompanyBound)) {
        return false;
    }
    if (!given("Name")) {
        return fail(234);
    }
    return insertNamed(LockSubject::CompanyName, "CompanyTable", [this](QString* sql) {
        *sql = QStringLiteral("INSERT INTO \"CompanyTable\" (\"Name\", \"Mail\", \"Phone\", \"Address\", \"Note\") "
                              "VALUES (") +
               sqlText(text("Name")) + QStringLiteral(", ") + sqlText(text("Mail")) + QStringLiteral(", ") +
               sqlText(text("Phone")) + QStringLiteral(", ") + sqlText(text("Address")) + QStringLiteral(", ") +
               sqlText(text("Note")) + QStringLiteral(") RETURNING \"Id\";");
        return true;
    });
}

bool Api::updCompany()
{
    qint64 id = 0;
    if (!allowTypes(UserType::Operator, kNoCompanyBound) || !requiredId("Id", 216, 177, &id)) {
        return false;
    }
    if (!given("Name")) {
        return fail(234);
    }
    LockedWrite write(db(), LockSubject::CompanyName);
    if (!beginNamedUpdate(write, "CompanyTable", id, true)) {
        return false;
    }
    return finish(write.execAndCommit(
        QStringLiteral("UPDATE \"CompanyTable\" SET \"Name\"=") + sqlText(text("Name")) + QStringLiteral(",  \"Mail\"=") +
        sqlText(text("Mail")) + QStringLiteral(", \"Phone\"=") + sqlText(text("Phone")) + QStringLiteral(", \"Address\"=") +
        sqlText(text("Address")) + QStringLiteral(", \"Note\"=") + sqlText(text("Note")) + QStringLiteral(" WHERE \"Id\"=") +
        QString::number(id) + QLatin1Char(';')));
}

// A company that addresses use stays; one without goes with its accounts and their sessions,
// all together. The company's row is held, so that no address or account can be given to it
// meanwhile.
bool Api::delCompany()
{
    qint64 id = 0;
    LockedWrite write(db());
    if (!allowTypes(UserType::Operator, kNoCompanyBound) || !requiredId("Id", 216, 177, &id) || !beginWrite(write) ||
        !recordExists("CompanyTable", id, Hold::Remove, 0)) {
        return false;
    }
    const QString idText = QString::number(id);
    qint64 address = -1;
    const quint16 code =
        db().findRecordId(QStringLiteral("AddressTable"), QStringLiteral("\"CompanyId\"=") + idText, &address);
    if (code != 0) {
        return fail(code);
    }
    if (address > 0) {
        return fail(204);
    }
    const QStringList statements = {
        QStringLiteral("DELETE FROM \"CompanyTable\" WHERE \"Id\"=") + idText + QLatin1Char(';'),
        QStringLiteral("DELETE FROM \"SessionTable\" WHERE \"UserId\" IN (SELECT \"Id\" FROM \"UserTable\" WHERE "
                       "\"CompanyId\"=") + idText + QStringLiteral(");"),
        QStringLiteral("DELETE FROM \"UserTable\" WHERE \"CompanyId\"=") + idText + QLatin1Char(';')};
    for (const QString& sql : statements) {
        if (write.exec(sql) != 0) {
            return fail(132);
        }
    }
    return finish(write.commit());
}

} // namespace client
