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
    if (!allowTypes(UserType::Top, UserType::User)) {
        return false;
    }
    QStringList conditions;
    for (const char* column : {"Name", "Mail", "Phone"}) {
        if (given(column)) {
            conditions << QStringLiteral("(c.\"") + QLatin1String(column) + QStringLiteral("\" LIKE ") +
                              sqlText(QLatin1Char('%') + text(column) + QLatin1Char('%')) + QLatin1Char(')');
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
    if (!allowTypes(UserType::Top, UserType::User)) {
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
    if (!allowTypes(UserType::Top, UserType::Operator)) {
        return false;
    }
    if (!given("Name")) {
        return fail(234);
    }
    LockedWrite write(db(), LockedWrite::Subject::CompanyName);
    qint64 existing = -1;
    const quint16 lookup = write.ok() ? db().findRecordId(QStringLiteral("CompanyTable"),
                                                          QStringLiteral("\"Name\"=") + sqlText(text("Name")),
                                                          &existing)
                                      : 132;
    if (lookup != 0) {
        return fail(lookup);
    }
    if (existing != -1) {
        return fail(203);
    }
    const QString sql = QStringLiteral("INSERT INTO \"CompanyTable\" (\"Name\", \"Mail\", \"Phone\", "
                                       "\"Address\", \"Note\") VALUES (") +
                        sqlText(text("Name")) + QStringLiteral(", ") + sqlText(text("Mail")) +
                        QStringLiteral(", ") + sqlText(text("Phone")) + QStringLiteral(", ") +
                        sqlText(text("Address")) + QStringLiteral(", ") + sqlText(text("Note")) +
                        QStringLiteral(") RETURNING \"Id\";");
    qint64 id = 0;
    quint16 code = write.exec(sql, &id);
    if (code == 0) {
        code = write.commit();
    }
    if (code != 0) {
        return fail(code);
    }
    req().setResponseId(id);
    return succeed();
}

bool Api::updCompany()
{
    if (!allowTypes(UserType::Top, UserType::Operator)) {
        return false;
    }
    if (!given("Id")) {
        return fail(216);
    }
    const qint64 id = int64Param("Id");
    if (id < 0) {
        return fail(177);
    }
    if (!given("Name")) {
        return fail(234);
    }
    LockedWrite write(db(), LockedWrite::Subject::CompanyName);
    if (!write.ok()) {
        return fail(132);
    }
    qint64 found = -1;
    quint16 code = db().findRecordId(QStringLiteral("CompanyTable"),
                                     QStringLiteral("\"Id\"=") + QString::number(id), &found);
    if (code != 0 || found == -1) {
        return fail(code != 0 ? code : 235);
    }
    code = db().findRecordId(QStringLiteral("CompanyTable"), QStringLiteral("\"Name\"=") + sqlText(text("Name")),
                             &found);
    if (code != 0) {
        return fail(code);
    }
    if (found != -1 && found != id) {
        return fail(203);
    }
    code = write.exec(QStringLiteral("UPDATE \"CompanyTable\" SET \"Name\"=") + sqlText(text("Name")) +
                      QStringLiteral(",  \"Mail\"=") + sqlText(text("Mail")) + QStringLiteral(", \"Phone\"=") +
                      sqlText(text("Phone")) + QStringLiteral(", \"Address\"=") + sqlText(text("Address")) +
                      QStringLiteral(", \"Note\"=") + sqlText(text("Note")) + QStringLiteral(" WHERE \"Id\"=") +
                      QString::number(id) + QLatin1Char(';'));
    if (code == 0) {
        code = write.commit();
    }
    return code == 0 ? succeed() : fail(code);
}

bool Api::delCompany()
{
    if (!allowTypes(UserType::Top, UserType::Operator)) {
        return false;
    }
    if (!given("Id")) {
        return fail(216);
    }
    const qint64 id = int64Param("Id");
    if (id < 0) {
        return fail(177);
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
    return execute(QStringLiteral("DELETE FROM \"CompanyTable\" WHERE \"Id\"=") + idText + QLatin1Char(';')) &&
           execute(QStringLiteral("DELETE FROM \"UserTable\" WHERE \"CompanyId\"=") + idText + QLatin1Char(';'));
}

} // namespace client
