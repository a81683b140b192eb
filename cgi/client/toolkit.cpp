// The pieces every handler is built from.
#include "cgi/client/api.h"

#include "app/httporvelaserver.h"
#include "cgi/intrule.h"
#include "db/database.h"
#include "db/sqltext.h"

#include <QJsonObject>
#include <QSqlQuery>

namespace client {

using namespace orvela;

QString Api::text(const char* name) const
{
    return req().parameterText(QString::fromLatin1(name));
}

qint64 Api::int32Param(const char* name, qint64 failure) const
{
    return parseInt32(text(name), failure);
}

qint64 Api::int64Param(const char* name, qint64 failure) const
{
    return parseInt64(text(name), failure);
}

bool Api::fail(quint16 code)
{
    req().setResultCode(code);
    return false;
}

bool Api::succeed()
{
    req().setResultCode(0);
    return true;
}

bool Api::allowTypes(int lowest, int highest)
{
    const int type = user().userType;
    return (type >= lowest && type <= highest) ? true : fail(143);
}

bool Api::resolveCompanyId(qint64* companyId)
{
    if (user().isCompanyBound()) {
        *companyId = user().companyId;
        return true;
    }
    const QString value = text("CompanyId");
    if (value.isEmpty() || value.trimmed().compare(QLatin1String("NULL"), Qt::CaseInsensitive) == 0) {
        *companyId = 0;
        return true;
    }
    const qint64 id = parseInt64(value);
    if (id < 0) {
        return fail(221);
    }
    *companyId = id;
    return true;
}

Database& Api::db() const
{
    return req().db();
}

const CurrentUser& Api::user() const
{
    return req().user();
}

bool Api::select(const QString& sql, QSqlQuery* query, quint16 failCode)
{
    return db().select(sql, query) ? true : fail(failCode);
}

bool Api::execute(const QString& sql, qint64* outId)
{
    const quint16 code = db().execInTransaction(sql, outId);
    return code == 0 ? succeed() : fail(code);
}

bool Api::appendRows(const QString& sql, quint16 failCode, const RowMaker& makeRow,
                     quint16 badRowCode)
{
    QSqlQuery query = db().newQuery();
    if (!select(sql, &query, failCode)) {
        return false;
    }
    while (query.next()) {
        QJsonObject row;
        if (!makeRow(query, &row)) {
            req().clearResponseData();
            return fail(badRowCode);
        }
        req().appendResponseRow(row);
    }
    return succeed();
}

QString Api::companyMatch(qint64 companyId)
{
    return companyId > 0 ? QLatin1Char('=') + QString::number(companyId) : QStringLiteral(" IS NULL");
}

bool Api::checkObjectInCompany(qint64 objectId, qint64 companyId)
{
    QSqlQuery query = db().newQuery();
    const QString sql = QStringLiteral("select a.\"Id\" from \"AddressTable\" a, \"ObjectTable\" o "
                                       "where (a.\"CompanyId\"") +
                        companyMatch(companyId) +
                        QStringLiteral(") and (a.\"Id\"=o.\"AddressId\") and (o.\"Id\"=") +
                        QString::number(objectId) + QStringLiteral(") limit 1;");
    if (!select(sql, &query, 132)) {
        return false;
    }
    return query.next() ? true : fail(190);
}

} // namespace client
