// One device: its record with composed information texts, or with its current installation.
#include "cgi/client/api.h"

#include "app/httporvelaserver.h"
#include "cgi/client/devicetexts.h"
#include "db/database.h"
#include "db/jsonrow.h"
#include "readings/vocabulary.h"

#include <QJsonObject>
#include <QSqlQuery>

namespace client {

using namespace orvela;

// The device a command describes: "DeviceId" (90 below 1), within the caller's reach (a
// company-bound caller reaches only a device installed in his company now: 246 otherwise),
// its identity, and its row with the model and the manufacturer (26, 246).
bool Api::readDescribedDevice(qint64* deviceId, DeviceIdentity* identity, QSqlQuery* query)
{
    if (!allowTypes(UserType::User, UserType::CompanyUser)) {
        return false;
    }
    *deviceId = int64Param("DeviceId", 0);
    if (*deviceId < 1) {
        return fail(90);
    }
    if (user().isCompanyBound() && !mayTouchDevice(*deviceId, Hold::None, sameRefusals(246, 246))) {
        return false;
    }
    const quint16 code = db().deviceIdentity(*deviceId, identity);
    if (code != 0) {
        return fail(code);
    }
    if (!select(QStringLiteral("SELECT d.\"ZavNum\", d.\"DateProizv\"::text AS \"DateProizv\", d.\"ModelId\", d.\"Status\", "
                               "d.\"Note\", d.\"TransKoef\", d.\"ConnectType\", m.\"Name\" AS \"ModelName\", m.\"ResCode\", "
                               "m.\"PovInterval\", m.\"ManufId\", p.\"Name\" AS \"ManufName\" FROM \"DeviceTable\" d, "
                               "\"ModelTable\" m, \"ManufTable\" p WHERE (d.\"Id\"=") +
                    QString::number(*deviceId) +
                    QStringLiteral(") AND (d.\"ModelId\"=m.\"Id\") AND (m.\"ManufId\"=p.\"Id\") LIMIT 1;"),
                query, 26)) {
        return false;
    }
    return query->next() ? true : fail(246);
}

QJsonObject Api::describedDevice(const DeviceIdentity& identity, const QSqlQuery& query) const
{
    JsonRow row(query);
    row.value(QStringLiteral("devType"), identity.devType)
        .value(QStringLiteral("manId"), manufacturerLetters(identity.manufacturer))
        .value(QStringLiteral("identNum"), static_cast<qint64>(QString::number(identity.identNum, 16).toLongLong()))
        .number(QStringLiteral("transKoef"), "TransKoef")
        .text(QStringLiteral("zavNum"), "ZavNum")
        .value(QStringLiteral("dateProizv"), columnText(query, "DateProizv").left(10))
        .number(QStringLiteral("modelId"), "ModelId")
        .number(QStringLiteral("status"), "Status")
        .text(QStringLiteral("note"), "Note")
        .text(QStringLiteral("modelName"), "ModelName")
        .number(QStringLiteral("resCode"), "ResCode")
        .number(QStringLiteral("povInterval"), "PovInterval")
        .number(QStringLiteral("manufId"), "ManufId")
        .text(QStringLiteral("manufName"), "ManufName");
    return row.object();
}

bool Api::getDeviceInfo()
{
    qint64 deviceId = 0;
    DeviceIdentity identity;
    QSqlQuery query = db().newQuery();
    if (!readDescribedDevice(&deviceId, &identity, &query)) {
        return false;
    }
    QJsonObject device = describedDevice(identity, query);
    const qint64 koef = columnNumber(query, "TransKoef");
    device.insert(QStringLiteral("infoText"),
                  QString(QObject::tr("Ресурс: ") + resourceName(static_cast<int>(columnNumber(query, "ResCode"))) +
                      QObject::tr("\nМодель: ") + columnText(query, "ModelName") + QObject::tr("\nЗаводской №: ") +
                      columnText(query, "ZavNum") + QStringLiteral("\nWMBus: ") + wmbusLine(identity) +
                      coefficientLine(koef)));
    const DeviceTexts texts = deviceTexts(db(), {deviceId}, [this](const QString& error) { req().logError(error); });
    device.insert(QStringLiteral("poverka"), texts.poverka.value(deviceId));
    device.insert(QStringLiteral("address"), texts.install.value(deviceId));
    device.insert(QStringLiteral("abonent"), texts.abonent.value(deviceId));
    req().appendResponseRow(device);
    return succeed();
}

// The address of an installation by name; empty, with the failure logged, when it cannot be
// read.
QString Api::addressName(qint64 addressId)
{
    QSqlQuery query = db().newQuery();
    if (!db().select(QStringLiteral("SELECT DISTINCT a.\"Id\", a.\"Name\", a.\"PostIndex\" FROM \"AddressTable\" a WHERE "
                                    "(a.\"Id\"=") +
                         QString::number(addressId) + QStringLiteral(") LIMIT 1;"),
                     &query) ||
        !query.next()) {
        return QString();
    }
    return columnText(query, "Name");
}

bool Api::getDeviceData()
{
    qint64 deviceId = 0;
    DeviceIdentity identity;
    QSqlQuery query = db().newQuery();
    if (!readDescribedDevice(&deviceId, &identity, &query)) {
        return false;
    }
    QJsonObject device = describedDevice(identity, query);
    device.insert(QStringLiteral("connectType"), columnNumber(query, "ConnectType"));
    QSqlQuery install = db().newQuery();
    if (!select(QStringLiteral("SELECT DISTINCT i.\"Id\", i.\"DateInstall\"::text AS \"DateInstall\", i.\"ObjectId\", "
                               "o.\"Obj\", o.\"AddressId\", b.\"Name\" FROM \"InstallTable\" i, \"ObjectTable\" o LEFT JOIN "
                               "\"AbonentTable\" b ON (o.\"AbonentId\"=b.\"Id\") WHERE (i.\"DeviceId\"=") +
                    QString::number(deviceId) +
                    QStringLiteral(") AND (i.\"Actual\"=1) AND (i.\"ObjectId\"=o.\"Id\") LIMIT 1;"),
                &install, 132)) {
        return false;
    }
    // A device installed nowhere keeps the installation keys, empty, so that clients read one shape.
    const bool installed = install.next();
    const qint64 addressId = installed ? columnNumber(install, "AddressId") : 0;
    device.insert(QStringLiteral("installId"), installed ? columnNumber(install, "Id") : 0);
    device.insert(QStringLiteral("dateInstall"), installed ? columnText(install, "DateInstall").left(10) : QString());
    device.insert(QStringLiteral("objectId"), installed ? columnNumber(install, "ObjectId") : 0);
    device.insert(QStringLiteral("obj"), installed ? columnText(install, "Obj") : QString());
    device.insert(QStringLiteral("addressId"), addressId);
    device.insert(QStringLiteral("address"), installed ? addressName(addressId) : QString());
    device.insert(QStringLiteral("abonent"), installed ? columnText(install, "Name") : QString());
    req().appendResponseRow(device);
    return succeed();
}

} // namespace client
