// The texts that describe a device on the clients' screens.
#include "cgi/client/devicetexts.h"

#include "cgi/client/api.h"

#include "db/database.h"
#include "db/jsonrow.h"
#include "db/sqltext.h"

#include <QDate>
#include <QObject>
#include <QSqlError>
#include <QSqlQuery>

namespace client {

using namespace orvela;

namespace {

const char kDateFormat[] = "dd.MM.yyyy";

QString hexDigits(quint64 value, int width)
{
    return QStringLiteral("%1").arg(value, width, 16, QLatin1Char('0')).toUpper();
}

QString dateText(const QVariant& value)
{
    return QDate::fromString(value.toString().left(10), QStringLiteral("yyyy-MM-dd")).toString(QString::fromLatin1(kDateFormat));
}

} // namespace

DeviceIdentity identityOfRow(const QSqlQuery& row)
{
    DeviceIdentity identity;
    identity.devType = static_cast<quint8>(columnNumber(row, "DevType"));
    identity.version = static_cast<quint8>(columnNumber(row, "Ver"));
    identity.manufacturer = manufacturerCode(columnText(row, "ManId"));
    // The stored number is the label's decimal digits; packed, each digit is a nibble.
    identity.identNum = QString::number(columnNumber(row, "IdentNum")).toUInt(nullptr, 16);
    return identity;
}

QString wmbusLine(const DeviceIdentity& identity)
{
    return manufacturerLetters(identity.manufacturer) + QLatin1Char(' ') + hexDigits(identity.identNum, 8) +
           QLatin1Char(' ') + hexDigits(identity.version, 2) + QLatin1Char(' ') + hexDigits(identity.devType, 2);
}

QString wmbusText(const DeviceIdentity& identity)
{
    return QStringLiteral("ManId: ") + manufacturerLetters(identity.manufacturer) + QStringLiteral("\nIdentNum: ") +
           hexDigits(identity.identNum, 8) + QStringLiteral("\nVer: ") + hexDigits(identity.version, 2) +
           QStringLiteral("\nDevType: ") + hexDigits(identity.devType, 2);
}

QString devstrText(const DeviceIdentity& identity)
{
    static const QHash<int, QString> shortCodes = {{2, QStringLiteral("EM")},  {3, QStringLiteral("GM")},
                                                   {4, QStringLiteral("HM")},  {6, QStringLiteral("WWM")},
                                                   {7, QStringLiteral("WM")},  {22, QStringLiteral("CWM")}};
    return shortCodes.value(identity.devType, QString::number(identity.devType)) + QLatin1Char(';') +
           hexDigits(identity.identNum, 8) + QLatin1Char(';') + QString::number(identity.version) + QLatin1Char(';') +
           manufacturerLetters(identity.manufacturer);
}

QString coefficientLine(qint64 transKoef)
{
    return transKoef == 1 ? QString() : QObject::tr("\nКоэф.трансформации: ") + QString::number(transKoef);
}

QString devInfoText(const QString& model, const QString& manufacturer, const QString& zavNum, qint64 transKoef)
{
    return QObject::tr("Модель: ") + model + QObject::tr("\nПроизводитель: ") + manufacturer +
           QObject::tr("\nЗаводской №: ") + zavNum + coefficientLine(transKoef);
}

namespace {

// "Дата поверки: ..." with its note, and the interval and the next date when the model has an
// interval.
QString poverkaOf(const QSqlQuery& query)
{
    const QDate date = QDate::fromString(columnText(query, "DatePov"), QStringLiteral("yyyy-MM-dd"));
    QString text = QObject::tr("Дата поверки: ") + date.toString(QString::fromLatin1(kDateFormat));
    const QString note = columnText(query, "Note");
    if (!note.isEmpty()) {
        text += QLatin1Char('\n') + note;
    }
    if (!columnValue(query, "PovInterval").isNull()) {
        const int months = static_cast<int>(columnNumber(query, "PovInterval"));
        text += QObject::tr("\nСрок действия: ") + QString::number(months) + QObject::tr(" мес.") +
                QObject::tr("\nДата следующей поверки: ") + date.addMonths(months).toString(QString::fromLatin1(kDateFormat));
    }
    return text;
}

// "Адрес установки:" with the address and the premises, and the installation date.
QString installOf(const QSqlQuery& query)
{
    QString text = QObject::tr("Адрес установки:") + QLatin1Char('\n') + columnText(query, "Name");
    if (!columnValue(query, "Obj").isNull()) {
        text += QStringLiteral(", ") + columnText(query, "Obj");
    }
    return text + QObject::tr("\nДата установки: ") + dateText(columnValue(query, "DateInstall"));
}

// "Абонент: " and the name, phone and mail of the abonent.
QString abonentOf(const QSqlQuery& query)
{
    QString text = QObject::tr("Абонент: \n") + columnText(query, "Name");
    if (!columnValue(query, "Phone").isNull()) {
        text += QObject::tr("\nТелефон: ") + columnText(query, "Phone");
    }
    if (!columnValue(query, "Mail").isNull()) {
        text += QObject::tr("\nE-mail: ") + columnText(query, "Mail");
    }
    return text;
}

// Each statement keeps one row per device, "DISTINCT ON" the device: the newest of its rows
// in force, the latest id first among rows of one date.
QString poverkaSql(const QString& ids)
{
    return QStringLiteral("SELECT DISTINCT ON (p.\"DeviceId\") p.\"DeviceId\", p.\"DatePov\"::text AS \"DatePov\", p.\"Note\", "
                          "m.\"PovInterval\" FROM \"PoverkaTable\" p, \"DeviceTable\" d, \"ModelTable\" m WHERE "
                          "(p.\"DeviceId\" = ANY(") +
           ids +
           QStringLiteral(")) AND (p.\"Actual\"=1) AND (p.\"DeviceId\"=d.\"Id\") AND (d.\"ModelId\"=m.\"Id\") "
                          "ORDER BY p.\"DeviceId\", p.\"DatePov\" DESC, p.\"Id\" DESC;");
}

QString installSql(const QString& ids)
{
    return QStringLiteral("SELECT DISTINCT ON (i.\"DeviceId\") i.\"DeviceId\", i.\"DateInstall\"::text AS \"DateInstall\", "
                          "o.\"Obj\", a.\"Name\" FROM \"InstallTable\" i, \"ObjectTable\" o, \"AddressTable\" a WHERE "
                          "(i.\"DeviceId\" = ANY(") +
           ids +
           QStringLiteral(")) AND (i.\"Actual\"=1) AND (i.\"ObjectId\"=o.\"Id\") AND (o.\"AddressId\"=a.\"Id\") "
                          "ORDER BY i.\"DeviceId\", i.\"DateInstall\" DESC, i.\"Id\" DESC;");
}

QString abonentSql(const QString& ids)
{
    return QStringLiteral("SELECT DISTINCT ON (i.\"DeviceId\") i.\"DeviceId\", a.\"Name\", a.\"Phone\", a.\"Mail\" FROM "
                          "\"InstallTable\" i, \"ObjectTable\" o, \"AbonentTable\" a WHERE (i.\"DeviceId\" = ANY(") +
           ids +
           QStringLiteral(")) AND (i.\"Actual\"=1) AND (i.\"ObjectId\"=o.\"Id\") AND (o.\"AbonentId\"=a.\"Id\") "
                          "ORDER BY i.\"DeviceId\", i.\"DateInstall\" DESC, i.\"Id\" DESC;");
}

// Hands each row of a look-up to its device.
void collect(QSqlQuery& query, QString (*compose)(const QSqlQuery&), QHash<qint64, QString>* texts)
{
    while (query.next()) {
        texts->insert(columnNumber(query, "DeviceId"), compose(query));
    }
}

} // namespace

QHash<qint64, QString> poverkaTexts(Database& db, const QList<qint64>& deviceIds)
{
    QHash<qint64, QString> texts;
    QSqlQuery query = db.newQuery();
    if (!deviceIds.isEmpty() && db.select(poverkaSql(sqlIdArray(deviceIds)), &query)) {
        collect(query, poverkaOf, &texts);
    }
    return texts;
}

DeviceTexts deviceTexts(Database& db, const QList<qint64>& deviceIds, const std::function<void(const QString&)>& logError)
{
    DeviceTexts texts;
    if (deviceIds.isEmpty()) {
        return texts;
    }
    texts.poverka = poverkaTexts(db, deviceIds);
    const QString ids = sqlIdArray(deviceIds);
    QSqlQuery query = db.newQuery();
    if (db.select(installSql(ids), &query)) {
        collect(query, installOf, &texts.install);
    }
    if (query.exec(abonentSql(ids))) {
        collect(query, abonentOf, &texts.abonent);
    } else {
        logError(QObject::tr("Ошибка при выполнении запроса PosgreSql: ") + query.lastError().text());
    }
    return texts;
}

// One device's verification, for the listings that show it beside other records.
QString Api::poverkaText(qint64 deviceId)
{
    return poverkaTexts(db(), {deviceId}).value(deviceId);
}

} // namespace client
