// The pieces every handler is built from.
#include "cgi/client/api.h"

#include "app/httporvelaserver.h"
#include "cgi/clientjson.h"
#include "cgi/intrule.h"
#include "db/database.h"
#include "db/lockedwrite.h"
#include "db/sqltext.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>

namespace client {

using namespace orvela;

// A parameter holding a NUL character never gets this far (the request is refused first), so
// every value a handler reads can be stored as it stands.
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

bool Api::requiredId(const char* name, quint16 absentCode, quint16 badCode, qint64* value, bool wide)
{
    if (!given(name)) {
        return fail(absentCode);
    }
    *value = wide ? int64Param(name) : int32Param(name);
    return *value < 0 ? fail(badCode) : true;
}

bool Api::numberFilter(const char* name, const QString& column, quint16 badCode, QString* conditions, bool wide)
{
    if (!given(name)) {
        return true;
    }
    const qint64 value = wide ? int64Param(name) : int32Param(name);
    if (value < 0) {
        return fail(badCode);
    }
    *conditions += QStringLiteral(" AND (") + column + QLatin1Char('=') + QString::number(value) + QLatin1Char(')');
    return true;
}

QString Api::textFilter(const QString& column, const char* exactName, const char* partName) const
{
    const QString exact = text(exactName);
    if (!exact.isEmpty()) {
        return QStringLiteral(" AND (") + column + QLatin1Char('=') + sqlText(exact) + QLatin1Char(')');
    }
    const QString part = text(partName);
    if (!part.isEmpty()) {
        return QStringLiteral(" AND (") + column + QStringLiteral(" LIKE ") + sqlContains(part) + QLatin1Char(')');
    }
    return QString();
}

bool Api::answerWithinLimit()
{
    if (req().withinAnswerLimit()) {
        return true;
    }
    req().clearResponseData();
    req().setResponseText(QObject::tr("Ответ больше %1 МБ (настройка max_answer_mb). Сузьте запрос: укажите адрес, "
                                      "объект или прибор или возьмите более короткий период.")
                              .arg(req().answer().limit() / (1024 * 1024)));
    return fail(330);
}

bool Api::commitBatch(LockedWrite& write, int count, qint64 lastId)
{
    const quint16 code = write.commit();
    if (code != 0) {
        return fail(code);
    }
    if (count == 1) {
        req().setResponseId(lastId);
    }
    return succeed();
}

bool Api::fail(quint16 code)
{
    req().setResultCode(code);
    return false;
}

bool Api::failNaming(quint16 code, const char* parameter)
{
    req().setResponseText(QObject::tr("Неверное значение или нет параметра %1.").arg(QLatin1String(parameter)));
    return fail(code);
}

bool Api::succeed()
{
    req().setResultCode(0);
    return true;
}

bool Api::typeAllowed(int highestGlobal, int highestCompanyBound) const
{
    const int type = user().userType;
    const bool global = type >= UserType::Top && type <= qMin(highestGlobal, int(UserType::User));
    const bool companyBound = type >= UserType::CompanyAdministrator &&
                              type <= qMin(highestCompanyBound, int(UserType::CompanyUser));
    return global || companyBound;
}

bool Api::allowTypes(int highestGlobal, int highestCompanyBound)
{
    return typeAllowed(highestGlobal, highestCompanyBound) ? true : fail(143);
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
    return finish(code);
}

bool Api::beginWrite(LockedWrite& write)
{
    return write.ok() ? true : fail(132);
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

bool Api::dataGiven()
{
    return given("DATA") ? true : fail(156);
}

bool Api::readDataArray(QJsonArray* array, bool single)
{
    if (!dataGiven()) {
        return false;
    }
    QJsonDocument doc;
    // A "\u0000" inside a text could only be stored changed.
    if (!tarn::parseClientJson(text("DATA").toUtf8(), &doc) || !doc.isArray() || tarn::jsonHasNul(doc.array())) {
        return fail(157);
    }
    *array = doc.array();
    if (array->isEmpty() || (single && array->size() != 1)) {
        return fail(161);
    }
    for (const QJsonValue& element : *array) {
        if (!element.isObject()) {
            return fail(131);
        }
    }
    return true;
}

} // namespace client
