#include "cgi/client/fieldlimits.h"

#include "app/httporvelaserver.h"
#include "cgi/client/api.h"
#include "cgi/client/datafields.h"
#include "cgi/intrule.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace client {

namespace {

// Column sizes of the schema.
constexpr qint64 kNote = 200;
constexpr qint64 kSmallint = 32767;
constexpr qint64 kInteger = 2147483647;
// Fields without a format code of their own are refused as data of an unknown format.
constexpr quint16 kNoFieldCode = 329;

} // namespace

const std::vector<FieldLimit>& fieldLimits()
{
    using F = FieldLimit;
    static const std::vector<FieldLimit> limits = {
        {"Add_User", "Login", "UserTable.Login", F::Text, 40, 323},
        {"Add_User", "Mail", "UserTable.Mail", F::Text, 50, 324},
        {"Add_User", "Phone", "UserTable.Phone", F::Text, 15, 325},
        {"Add_User", "Note", "UserTable.Note", F::Text, kNote, 327},
        {"Add_User", "Status", "UserTable.Status", F::Number, kSmallint, 160},
        {"Add_User", "UserType", "UserTable.UserType", F::Number, kSmallint, 276},
        {"Upd_User", "Login", "UserTable.Login", F::Text, 40, 323},
        {"Upd_User", "Mail", "UserTable.Mail", F::Text, 50, 324},
        {"Upd_User", "Phone", "UserTable.Phone", F::Text, 15, 325},
        {"Upd_User", "Note", "UserTable.Note", F::Text, kNote, 327},
        {"Upd_User", "Status", "UserTable.Status", F::Number, kSmallint, 160},
        {"Upd_User", "UserType", "UserTable.UserType", F::Number, kSmallint, 276},

        {"Add_Company", "Name", "CompanyTable.Name", F::Text, 60, 322},
        {"Add_Company", "Address", "CompanyTable.Address", F::Text, 100, kNoFieldCode},
        {"Add_Company", "Mail", "CompanyTable.Mail", F::Text, 40, 324},
        {"Add_Company", "Phone", "CompanyTable.Phone", F::Text, 20, 325},
        {"Add_Company", "Note", "CompanyTable.Note", F::Text, kNote, 327},
        {"Upd_Company", "Name", "CompanyTable.Name", F::Text, 60, 322},
        {"Upd_Company", "Address", "CompanyTable.Address", F::Text, 100, kNoFieldCode},
        {"Upd_Company", "Mail", "CompanyTable.Mail", F::Text, 40, 324},
        {"Upd_Company", "Phone", "CompanyTable.Phone", F::Text, 20, 325},
        {"Upd_Company", "Note", "CompanyTable.Note", F::Text, kNote, 327},

        {"Add_Address", "Name", "AddressTable.Name", F::Text, 100, 322},
        {"Add_Address", "PostIndex", "AddressTable.PostIndex", F::Text, 10, 282},
        {"Add_Address", "CoordLat", "AddressTable.CoordLat", F::Text, 20, kNoFieldCode},
        {"Add_Address", "CoordLong", "AddressTable.CoordLong", F::Text, 20, kNoFieldCode},
        {"Add_Address", "Note", "AddressTable.Note", F::Text, kNote, 327},
        {"Upd_Address", "Name", "AddressTable.Name", F::Text, 100, 322},
        {"Upd_Address", "PostIndex", "AddressTable.PostIndex", F::Text, 10, 282},
        {"Upd_Address", "CoordLat", "AddressTable.CoordLat", F::Text, 20, kNoFieldCode},
        {"Upd_Address", "CoordLong", "AddressTable.CoordLong", F::Text, 20, kNoFieldCode},
        {"Upd_Address", "Note", "AddressTable.Note", F::Text, kNote, 327},
        {"Add_Object", "Obj", "ObjectTable.Obj", F::Text, 40, kNoFieldCode},
        {"Add_Object", "Sq", "ObjectTable.Sq", F::Text, 8, 283},
        {"Add_Object", "Note", "ObjectTable.Note", F::Text, kNote, 327},
        {"Add_Object", "ObjType", "ObjectTable.ObjType", F::Number, kSmallint, 220},
        {"Upd_Object", "Obj", "ObjectTable.Obj", F::Text, 40, kNoFieldCode},
        {"Upd_Object", "Sq", "ObjectTable.Sq", F::Text, 8, 283},
        {"Upd_Object", "Note", "ObjectTable.Note", F::Text, kNote, 327},
        {"Upd_Object", "ObjType", "ObjectTable.ObjType", F::Number, kSmallint, 220},

        {"Add_Abonents", "DATA.name", "AbonentTable.Name", F::Text, 100, 322},
        {"Add_Abonents", "DATA.login", "AbonentTable.Login", F::Text, 40, 323},
        {"Add_Abonents", "DATA.mail", "AbonentTable.Mail", F::Text, 40, 324},
        {"Add_Abonents", "DATA.phone", "AbonentTable.Phone", F::Text, 15, 325},
        {"Add_Abonents", "DATA.status", "AbonentTable.Status", F::Number, kSmallint, 250},
        {"Upd_Abonent", "DATA.name", "AbonentTable.Name", F::Text, 100, 322},
        {"Upd_Abonent", "DATA.login", "AbonentTable.Login", F::Text, 40, 323},
        {"Upd_Abonent", "DATA.mail", "AbonentTable.Mail", F::Text, 40, 324},
        {"Upd_Abonent", "DATA.phone", "AbonentTable.Phone", F::Text, 15, 325},
        {"Upd_Abonent", "DATA.status", "AbonentTable.Status", F::Number, kSmallint, 250},
        {"Add_LicAccount", "DATA.name", "LicAccountTable.Name", F::Text, 20, 322},
        {"Add_LicAccount", "DATA.resCode", "LicAccountTable.ResCode", F::Number, kSmallint, 241},
        {"Upd_LicAccount", "DATA.name", "LicAccountTable.Name", F::Text, 20, 322},
        {"Upd_LicAccount", "DATA.resCode", "LicAccountTable.ResCode", F::Number, kSmallint, 241},

        {"Add_Manuf", "Name", "ManufTable.Name", F::Text, 50, 322},
        {"Add_Manuf", "Note", "ManufTable.Note", F::Text, kNote, 327},
        {"Upd_Manuf", "Name", "ManufTable.Name", F::Text, 50, 322},
        {"Upd_Manuf", "Note", "ManufTable.Note", F::Text, kNote, 327},
        {"Add_Model", "Name", "ModelTable.Name", F::Text, 50, 322},
        {"Add_Model", "Note", "ModelTable.Note", F::Text, kNote, 327},
        {"Add_Model", "ResCode", "ModelTable.ResCode", F::Number, kSmallint, 239},
        {"Add_Model", "PovInterval", "ModelTable.PovInterval", F::Number, kSmallint, 108},
        {"Upd_Model", "Name", "ModelTable.Name", F::Text, 50, 322},
        {"Upd_Model", "Note", "ModelTable.Note", F::Text, kNote, 327},
        {"Upd_Model", "ResCode", "ModelTable.ResCode", F::Number, kSmallint, 177},
        {"Upd_Model", "PovInterval", "ModelTable.PovInterval", F::Number, kSmallint, 177},

        {"Add_Devices", "DATA.zavNum", "DeviceTable.ZavNum", F::Text, 20, kNoFieldCode},
        {"Add_Devices", "DATA.status", "DeviceTable.Status", F::Number, kSmallint, 250},
        {"Add_Devices", "DATA.transKoef", "DeviceTable.TransKoef", F::Number, kInteger, 181},
        {"Upd_Device", "DATA.zavNum", "DeviceTable.ZavNum", F::Text, 20, kNoFieldCode},
        {"Upd_Device", "DATA.status", "DeviceTable.Status", F::Number, kSmallint, 250},
        {"Upd_Device", "DATA.transKoef", "DeviceTable.TransKoef", F::Number, kInteger, 181},
        {"Add_Task", "DromexNum", "TaskTable.DromexNum", F::Text, 20, 153},
    };
    return limits;
}

} // namespace client

namespace client {

namespace {

// The text of the first way a value breaks its limit, or an empty text.
QString breach(const FieldLimit& limit, const QString& value)
{
    if (limit.kind == FieldLimit::Text) {
        // PostgreSQL counts characters, not UTF-16 units.
        const qint64 length = value.toUcs4().size();
        return length > limit.largest
                   ? QStringLiteral("%1 симв., допустимо не более %2.").arg(length).arg(limit.largest)
                   : QString();
    }
    // A number that does not convert is the handler's to refuse, with its own code.
    const qint64 number = orvela::parseInt64(value, -1);
    return number > limit.largest ? QStringLiteral("значение %1, допустимо не более %2.").arg(number).arg(limit.largest)
                                  : QString();
}

// A "DATA" value as text: strings as they are, whole numbers in decimal.
QString dataText(const QJsonValue& value)
{
    if (value.isDouble()) {
        qint64 number = 0;
        return jsonToInt64(value, &number) ? QString::number(number) : QString();
    }
    return jsonString(value);
}

} // namespace

bool Api::valuesWithinLimits(const char* command)
{
    QJsonArray data;
    bool dataRead = false;
    for (const FieldLimit& limit : fieldLimits()) {
        if (qstrcmp(limit.command, command) != 0) {
            continue;
        }
        const QString field = QString::fromLatin1(limit.field);
        if (!field.startsWith(QLatin1String("DATA."))) {
            const QString problem = breach(limit, text(limit.field));
            if (!problem.isEmpty()) {
                req().logError(QStringLiteral("Параметр ") + field + QStringLiteral(": ") + problem);
                return fail(limit.code);
            }
            continue;
        }
        if (!dataRead) {
            // A "DATA" that is no array is the handler's to refuse.
            data = QJsonDocument::fromJson(text("DATA").toUtf8()).array();
            dataRead = true;
        }
        const QString key = field.mid(5);
        for (int index = 0; index < data.size(); ++index) {
            const QString problem = breach(limit, dataText(data.at(index).toObject().value(key)));
            if (!problem.isEmpty()) {
                req().logError(QStringLiteral("Поле %1 записи %2 параметра DATA: ").arg(key).arg(index + 1) + problem);
                return fail(limit.code);
            }
        }
    }
    return true;
}

} // namespace client
