// Search by fragments of identifying texts, and the technical records devices deliver.
#include "cgi/client/api.h"

#include "app/httporvelaserver.h"
#include "cgi/intrule.h"
#include "db/database.h"
#include "db/jsonrow.h"
#include "db/sqltext.h"
#include "readings/archiverecord.h"
#include "readings/lookups.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace client {

using namespace orvela;

namespace {

constexpr int kLongestTechnicalRange = 64;

// What one kind of search reads, who may read it, and which rows belong to no company. A
// caller searches only what the listing of the same records shows him: the company-bound
// types that listing allows, and for an account bound to no company the rows of no company
// that it lists, which excludes rows whose premises are gone.
struct SearchKind {
    const char* statement;
    const char* startCondition;
    int highestCompanyBound;
    const char* ofNoCompany;
};

const SearchKind kSearchKinds[] = {
    {"select distinct d.\"Id\" as \"DeviceId\", d.\"ManId\", d.\"IdentNum\", d.\"Ver\", d.\"DevType\", d.\"ZavNum\" as \"Заводской №\", "
     "d.\"ModelId\", m.\"Name\" as \"Модель\", i.\"Id\" as \"InstallId\", o.\"AddressId\", a.\"Name\" as \"Адрес\", i.\"ObjectId\", "
     "o.\"Obj\" as \"Объект\", a.\"CompanyId\", c.\"Name\" as \"Организация\" from \"DeviceTable\" d left join \"ModelTable\" m on "
     "d.\"ModelId\"=m.\"Id\" left join \"InstallTable\" i on d.\"Id\"=i.\"DeviceId\" left join \"ObjectTable\" o on "
     "i.\"ObjectId\"=o.\"Id\" left join \"AddressTable\" a on o.\"AddressId\"=a.\"Id\" left join \"CompanyTable\" c on "
     "a.\"CompanyId\"=c.\"Id\" ",
     "(i.\"Actual\"=1)", UserType::CompanyUser, "( a.\"Id\" IS NOT NULL AND a.\"CompanyId\" IS NULL )"},
    {"select distinct a.\"Id\" as \"AddressId\", a.\"Name\" as \"Адрес\", a.\"TimeShift\" as \"Смещение UTC, мин.\", a.\"Note\" as "
     "\"Информация\", ((a.\"JsonData\")::json->'fias')::varchar as \"Код ФИАС\", o.\"Id\" as \"ObjectId\", o.\"Obj\" as \"Объект\", "
     "a.\"CompanyId\", c.\"Name\" as \"Организация\" from \"AddressTable\" a left join \"ObjectTable\" o on a.\"Id\"=o.\"AddressId\" "
     "left join \"CompanyTable\" c on a.\"CompanyId\"=c.\"Id\" ",
     "", UserType::CompanyUser, "( a.\"CompanyId\" IS NULL )"},
    {"select distinct ab.\"Id\" as \"AbonentId\", ab.\"Name\" as \"Абонент\", ab.\"Login\" as \"Логин\", ab.\"Mail\" as \"E-Mail\", "
     "ab.\"Phone\" as \"Телефон\", a.\"Id\" as \"AddressId\", a.\"Name\" as \"Адрес\", o.\"Id\" as \"ObjectId\", o.\"Obj\" as \"Объект\", "
     "a.\"CompanyId\", c.\"Name\" as \"Организация\" from \"AbonentTable\" ab left join \"ObjectTable\" o on ab.\"Id\"=o.\"AbonentId\" "
     "left join \"AddressTable\" a on o.\"AddressId\"=a.\"Id\" left join \"CompanyTable\" c on a.\"CompanyId\"=c.\"Id\" ",
     "", UserType::CompanyUser, "( a.\"Id\" IS NOT NULL AND a.\"CompanyId\" IS NULL )"},
    {"select distinct u.\"Id\" as \"UserId\", u.\"Login\" as \"Логин\", u.\"Mail\" as \"E-Mail\", u.\"CompanyId\", c.\"Name\" as "
     "\"Организация\" from \"UserTable\" u left join \"CompanyTable\" c on u.\"CompanyId\"=c.\"Id\" ",
     "", UserType::CompanyAdministrator, "( u.\"CompanyId\" IS NULL )"},
};

// "position(<text> in <column>) > 0": the text is found as it stands, signs included.
QString contains(const QString& text, const QString& column)
{
    return QStringLiteral("( position(") + sqlText(text) + QStringLiteral(" in ") + column + QStringLiteral(") > 0 )");
}

// Both sides in lower case, so that a fragment typed in capitals still matches.
QString containsIgnoringCase(const QString& text, const QString& column)
{
    return QStringLiteral("( position(") + sqlText(text.toLower()) + QStringLiteral(" in lower(") + column +
           QStringLiteral(")) > 0 )");
}

QJsonArray rowTexts(const QSqlQuery& query, int columnCount)
{
    QJsonArray texts;
    for (int i = 0; i < columnCount; ++i) {
        const QVariant value = query.value(i);
        texts.append(value.isNull() ? QStringLiteral("NULL") : value.toString());
    }
    return texts;
}

} // namespace

// The conditions of the fields of one kind of search, in the order they are joined.
QStringList Api::searchFields(int type)
{
    QStringList conditions;
    const QString f1 = text("Field1");
    const QString f2 = text("Field2");
    const QString f3 = text("Field3");
    const QString f4 = text("Field4");
    switch (type) {
    case 0:
        if (!f1.isEmpty()) {
            conditions << QStringLiteral("(") + contains(f1, QStringLiteral("cast(d.\"IdentNum\" as varchar)")) + QStringLiteral(" or ") +
                              contains(f1, QStringLiteral("d.\"ZavNum\"")) + QStringLiteral(")");
        }
        if (!f2.isEmpty()) {
            conditions << QStringLiteral("( d.\"ManId\"=") + sqlText(f2.toUpper()) + QStringLiteral(" )");
        }
        if (!f3.isEmpty()) {
            conditions << QStringLiteral("( d.\"DevType\"=") + QString::number(parseInt32(f3, 0)) + QStringLiteral(" )");
        }
        if (!f4.isEmpty()) {
            conditions << QStringLiteral("( d.\"Ver\"=") + QString::number(parseInt32(f4, 0)) + QStringLiteral(" )");
        }
        break;
    case 1:
        if (!f1.isEmpty()) {
            conditions << containsIgnoringCase(f1, QStringLiteral("a.\"Name\""));
        }
        if (!f2.isEmpty()) {
            conditions << containsIgnoringCase(f2, QStringLiteral("o.\"Obj\""));
        }
        break;
    case 2:
        if (!f1.isEmpty()) {
            conditions << containsIgnoringCase(f1, QStringLiteral("ab.\"Name\""));
        }
        if (!f2.isEmpty()) {
            conditions << contains(f2, QStringLiteral("ab.\"Login\""));
        }
        if (!f3.isEmpty()) {
            conditions << contains(f3, QStringLiteral("ab.\"Mail\""));
        }
        break;
    default:
        if (!f1.isEmpty()) {
            conditions << contains(f1, QStringLiteral("u.\"Login\""));
        }
        break;
    }
    return conditions;
}

// Global callers search every company, or the one they name; a company account its own, and
// one bound to no company the rows of no company; accounts only who may list them.
bool Api::search()
{
    qint64 company = 0;
    if (!allowTypes(UserType::User, UserType::CompanyUser) || !resolveCompanyId(&company)) {
        return false;
    }
    const qint64 type = given("Type") ? parseInt32(text("Type")) : -1;
    if (type < 0 || type > 3) {
        return fail(177);
    }
    const SearchKind& kind = kSearchKinds[type];
    if (!allowTypes(UserType::User, kind.highestCompanyBound)) {
        return false;
    }
    QStringList conditions;
    if (qstrlen(kind.startCondition) > 0) {
        conditions << QString::fromUtf8(kind.startCondition);
    }
    conditions << searchFields(static_cast<int>(type));
    if (company > 0) {
        conditions << QStringLiteral("( c.\"Id\"=") + QString::number(company) + QStringLiteral(" )");
    } else if (user().isCompanyBound()) {
        conditions << QString::fromUtf8(kind.ofNoCompany);
    }
    QSqlQuery query = db().newQuery();
    const QString sql = QString::fromUtf8(kind.statement) +
                        (conditions.isEmpty() ? QString() : QStringLiteral(" where ") + conditions.join(QStringLiteral(" and "))) +
                        QStringLiteral(" limit 1000;");
    if (!query.exec(sql)) {
        req().logError(QObject::tr("Ошибка при запросе к БД PostgreSql: ") + query.lastError().text());
        return fail(132);
    }
    QJsonArray header;
    const QSqlRecord columns = query.record();
    for (int i = 0; i < columns.count(); ++i) {
        header.append(columns.fieldName(i));
    }
    req().appendResponseRow(header);
    while (query.next()) {
        req().appendResponseRow(rowTexts(query, columns.count()));
    }
    return succeed();
}

// The address offset of the device's current installation, within the caller's company for a
// company account; 246 without one.
bool Api::technicalOffset(qint64 deviceId, int* offset)
{
    QSqlQuery query = db().newQuery();
    if (!select(QStringLiteral("select \"TimeShift\" from \"AddressTable\" a, \"ObjectTable\" o, \"InstallTable\" i where (i.\"DeviceId\"=") +
                    QString::number(deviceId) +
                    QStringLiteral(") and (i.\"Actual\"=1) and (i.\"ObjectId\"=o.\"Id\") and (o.\"AddressId\"=a.\"Id\") ") +
                    (user().isCompanyBound() ? QStringLiteral("and (a.\"CompanyId\"") + companyMatch(user().companyId) + QStringLiteral(") ")
                                             : QString()) +
                    QStringLiteral("limit 1;"),
                &query, 132)) {
        return false;
    }
    if (!query.next()) {
        return fail(246);
    }
    *offset = static_cast<int>(columnNumber(query, "TimeShift"));
    return true;
}

// One year's technical records of the device in the range; a record whose values are no JSON
// array cannot be shown, and is refused rather than passed over as if the device had sent
// nothing.
bool Api::technicalYear(int year, qint64 deviceId, const QDateTime& from, const QDateTime& to, int offset)
{
    QSqlQuery query = db().newQuery();
    if (!select(QStringLiteral("select distinct \"Id\", \"TechDate\"::text AS \"TechDate\", \"RecDate\"::text AS \"RecDate\", "
                               "(\"JsonVal\"::varchar) AS \"JsonVal\" from \"TechnicalTable") +
                    QString::number(year) + QStringLiteral("\" where (\"TechDate\" >= ") + sqlTimestamp(from) +
                    QStringLiteral("::timestamp) and (\"TechDate\" <= ") + sqlTimestamp(to) + QStringLiteral("::timestamp) and (\"DeviceId\"=") +
                    QString::number(deviceId) + QStringLiteral(") order by \"TechDate\" asc limit 5000;"),
                &query, 132)) {
        return false;
    }
    const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    while (query.next()) {
        const QJsonDocument values = QJsonDocument::fromJson(columnText(query, "JsonVal").toUtf8());
        if (!values.isArray()) {
            req().logDebug(QObject::tr("Неправильный формат поля JsonVal."));
            req().logError(QStringLiteral("Id > ") + columnValue(query, "Id").toString());
            req().clearResponseData();
            return fail(131);
        }
        const QDateTime received = archiveUtcDateTime(columnValue(query, "RecDate"));
        req().appendResponseRow(QJsonObject{
            {QStringLiteral("id"), columnNumber(query, "Id")},
            {QStringLiteral("date"), shiftedToLocal(archiveUtcDateTime(columnValue(query, "TechDate")), offset).toString(format)},
            {QStringLiteral("dateRec"), received.isValid() ? shiftedToLocal(received, offset).toString(format) : QString()},
            {QStringLiteral("values"), values.array()}});
    }
    return true;
}

bool Api::getTechnicalData()
{
    qint64 deviceId = 0;
    int offset = 0;
    if (!allowTypes(UserType::User, UserType::CompanyAdministrator) || !requiredId("DeviceId", 110, 216, &deviceId)) {
        return false;
    }
    QDate first;
    QDate last;
    if (!requiredDate("DateStart", 4, 290, &first) || !requiredDate("DateEnd", 4, 291, &last)) {
        return false;
    }
    if (first.daysTo(last) > kLongestTechnicalRange) {
        return fail(256);
    }
    if (!technicalOffset(deviceId, &offset)) {
        return false;
    }
    const qint64 shift = static_cast<qint64>(offset) * 60;
    const QDateTime from = QDateTime(first, QTime(0, 0), Qt::UTC).addSecs(-shift);
    const QDateTime to = QDateTime(last, QTime(23, 59, 59), Qt::UTC).addSecs(-shift);
    for (int year = from.date().year(); year <= to.date().year(); ++year) {
        if (db().tableExists(QStringLiteral("TechnicalTable") + QString::number(year)) &&
            !technicalYear(year, deviceId, from, to, offset)) {
            return false;
        }
    }
    return succeed();
}

} // namespace client
