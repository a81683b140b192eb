// Texts that listings compose from several tables: an abonent's summary and the devices of
// an object.
#include "cgi/client/api.h"

#include "app/httporvelaserver.h"
#include "db/database.h"
#include "db/jsonrow.h"
#include "db/sqltext.h"

#include <QSqlError>
#include <QSqlQuery>

namespace client {

using namespace orvela;

namespace {

// Name, then phone and mail on lines of their own when there are any.
QString summaryOf(const QSqlQuery& query)
{
    QString summary = columnText(query, "Name");
    const QString phone = columnText(query, "Phone");
    const QString mail = columnText(query, "Mail");
    if (!phone.isEmpty()) {
        summary += QObject::tr("\nТел.: ") + phone;
    }
    if (!mail.isEmpty()) {
        summary += QObject::tr("\nE-mail: ") + mail;
    }
    return summary;
}

} // namespace

QString Api::abonentSummary(qint64 abonentId, quint16* code)
{
    quint16 ignored = 0;
    quint16& result = code ? *code : ignored;
    result = 0;
    if (m_abonentSummaries.contains(abonentId)) {
        return m_abonentSummaries.value(abonentId);
    }
    QSqlQuery query = db().newQuery();
    if (!db().select(QStringLiteral("SELECT \"Name\", \"Phone\", \"Mail\" FROM \"AbonentTable\" WHERE (\"Id\"=") +
                         QString::number(abonentId) + QStringLiteral(") LIMIT 1;"),
                     &query)) {
        result = 117;
        return QString();
    }
    if (!query.next()) {
        result = 144;
        return QString();
    }
    const QString summary = summaryOf(query);
    m_abonentSummaries.insert(abonentId, summary);
    return summary;
}

void Api::readAbonentSummaries(const QList<qint64>& abonentIds)
{
    QSqlQuery query = db().newQuery();
    // What this cannot read is read one by one later, with its own codes.
    if (abonentIds.isEmpty() ||
        !db().select(QStringLiteral("SELECT \"Id\", \"Name\", \"Phone\", \"Mail\" FROM \"AbonentTable\" WHERE (\"Id\" IN (") +
                         sqlIdList(abonentIds) + QStringLiteral("));"),
                     &query)) {
        return;
    }
    while (query.next()) {
        m_abonentSummaries.insert(columnNumber(query, "Id"), summaryOf(query));
    }
}

QString Api::deviceListText(qint64 objectId, qint64 resCode)
{
    const QPair<qint64, qint64> key(objectId, resCode);
    if (m_deviceLists.contains(key)) {
        return m_deviceLists.value(key);
    }
    QSqlQuery query = db().newQuery();
    const QString sql =
        QStringLiteral("SELECT DISTINCT d.\"Id\", d.\"ZavNum\", m.\"Name\", n.\"Name\" AS \"ManufName\" FROM "
                       "\"DeviceTable\" d, \"ModelTable\" m, \"ManufTable\" n, \"InstallTable\" i WHERE "
                       "(i.\"ObjectId\"=") +
        QString::number(objectId) +
        QStringLiteral(") AND (i.\"DeviceId\"=d.\"Id\") AND (i.\"Actual\"=1) AND (d.\"ModelId\"=m.\"Id\") AND "
                       "(m.\"ManufId\"=n.\"Id\") AND (m.\"ResCode\"=") +
        QString::number(resCode) + QStringLiteral(") LIMIT 100;");
    if (!query.exec(sql)) {
        req().logError(QObject::tr("Ошибка при выполнении запроса PosgreSql: ") + query.lastError().text());
        return QString();
    }
    QString list;
    while (query.next()) {
        list += columnText(query, "Name") + QStringLiteral(" (") + columnText(query, "ZavNum") +
                QStringLiteral(")\n");
    }
    // Blanks and line feeds at both ends go, as a trimmed text.
    list = list.trimmed();
    m_deviceLists.insert(key, list);
    return list;
}

} // namespace client
