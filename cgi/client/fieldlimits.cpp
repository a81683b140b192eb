#include "cgi/client/fieldlimits.h"

#include "app/httporvelaserver.h"
#include "cgi/client/api.h"
#include "cgi/client/datafields.h"
#include "cgi/clientjson.h"
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
// The most records one "DATA" of a batch may carry: a house's abonents, accounts or meters,
// or a screen of error flags, all checked and written in one transaction.
constexpr qint64 kMostBatchElements = 5000;
constexpr quint16 kDataFormatCode = 157;

// The commands that write a table, with the limits of the values they write to it.
struct TableFields {
    std::vector<const char*> commands;
    const char* table;
    struct Field {
        const char* field;
        const char* column;
        FieldLimit::Kind kind;
        qint64 largest;
        quint16 code;
    };
    std::vector<Field> fields;
};

} // namespace

const std::vector<FieldLimit>& fieldLimits()
{
    using F = FieldLimit;
    static const std::vector<TableFields> tables = {
        {{"Add_User", "Upd_User"},
         "UserTable",
         {
             {"Login", "Login", F::Text, 40, 323},
             {"Mail", "Mail", F::Text, 50, 324},
             {"Phone", "Phone", F::Text, 15, 325},
             {"Note", "Note", F::Text, kNote, 327},
             {"Status", "Status", F::Number, kSmallint, 160},
             {"UserType", "UserType", F::Number, kSmallint, 276},
         }},
        {{"Add_Company", "Upd_Company"},
         "CompanyTable",
         {
             {"Name", "Name", F::Text, 60, 322},
             {"Address", "Address", F::Text, 100, kNoFieldCode},
             {"Mail", "Mail", F::Text, 40, 324},
             {"Phone", "Phone", F::Text, 20, 325},
             {"Note", "Note", F::Text, kNote, 327},
         }},
        {{"Add_Address", "Upd_Address"},
         "AddressTable",
         {
             {"Name", "Name", F::Text, 100, 322},
             {"PostIndex", "PostIndex", F::Text, 10, 282},
             {"CoordLat", "CoordLat", F::Text, 20, kNoFieldCode},
             {"CoordLong", "CoordLong", F::Text, 20, kNoFieldCode},
             {"Note", "Note", F::Text, kNote, 327},
         }},
        {{"Add_Object", "Upd_Object"},
         "ObjectTable",
         {
             {"Obj", "Obj", F::Text, 40, kNoFieldCode},
             {"Sq", "Sq", F::Text, 8, 283},
             {"Note", "Note", F::Text, kNote, 327},
             {"ObjType", "ObjType", F::Number, kSmallint, 220},
         }},
        {{"Add_Abonents", "Upd_Abonent"},
         "AbonentTable",
         {
             {"DATA.name", "Name", F::Text, 100, 322},
             {"DATA.login", "Login", F::Text, 40, 323},
             {"DATA.mail", "Mail", F::Text, 40, 324},
             {"DATA.phone", "Phone", F::Text, 15, 325},
             {"DATA.status", "Status", F::Number, kSmallint, 250},
         }},
        {{"Add_LicAccount", "Upd_LicAccount"},
         "LicAccountTable",
         {
             {"DATA.name", "Name", F::Text, 20, 322},
             {"DATA.resCode", "ResCode", F::Number, kSmallint, 241},
         }},
        {{"Add_Manuf", "Upd_Manuf"},
         "ManufTable",
         {
             {"Name", "Name", F::Text, 50, 322},
             {"Note", "Note", F::Text, kNote, 327},
         }},
        {{"Add_Model"},
         "ModelTable",
         {
             {"Name", "Name", F::Text, 50, 322},
             {"Note", "Note", F::Text, kNote, 327},
             {"ResCode", "ResCode", F::Number, kSmallint, 239},
             {"PovInterval", "PovInterval", F::Number, kSmallint, 108},
         }},
        {{"Upd_Model"},
         "ModelTable",
         {
             {"Name", "Name", F::Text, 50, 322},
             {"Note", "Note", F::Text, kNote, 327},
             {"ResCode", "ResCode", F::Number, kSmallint, 177},
             {"PovInterval", "PovInterval", F::Number, kSmallint, 177},
         }},
        {{"Add_Devices", "Upd_Device"},
         "DeviceTable",
         {
             {"DATA.zavNum", "ZavNum", F::Text, 20, kNoFieldCode},
             {"DATA.status", "Status", F::Number, kSmallint, 250},
             {"DATA.transKoef", "TransKoef", F::Number, kInteger, 181},
         }},
        {{"Add_Task"},
         "TaskTable",
         {
             {"DromexNum", "DromexNum", F::Text, 20, 153},
         }},
    };
    static const std::vector<FieldLimit> limits = [] {
        std::vector<FieldLimit> all;
        for (const char* command : {"Add_Abonents", "Add_LicAccount", "Add_Devices", "Clear_ErrorFlags"}) {
            all.push_back({command, "DATA", "", "", F::Elements, kMostBatchElements, kDataFormatCode});
        }
        for (const TableFields& table : tables) {
            for (const char* command : table.commands) {
                for (const TableFields::Field& field : table.fields) {
                    all.push_back({command, field.field, table.table, field.column, field.kind, field.largest, field.code});
                }
            }
        }
        return all;
    }();
    return limits;
}

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

QString dataLimitBreach(const FieldLimit& limit, const QJsonArray& data)
{
    if (limit.kind == FieldLimit::Elements) {
        return data.size() > limit.largest
                   ? QStringLiteral("Параметр DATA: %1 записей, допустимо не более %2.").arg(data.size()).arg(limit.largest)
                   : QString();
    }
    const QString key = QString::fromLatin1(limit.field).mid(5);
    for (int index = 0; index < data.size(); ++index) {
        const QString problem = breach(limit, dataText(data.at(index).toObject().value(key)));
        if (!problem.isEmpty()) {
            return QStringLiteral("Поле %1 записи %2 параметра DATA: ").arg(key).arg(index + 1) + problem;
        }
    }
    return QString();
}

bool Api::valuesWithinLimits(const char* command)
{
    QJsonArray data;
    bool dataRead = false;
    for (const FieldLimit& limit : fieldLimits()) {
        if (qstrcmp(limit.command, command) != 0) {
            continue;
        }
        const QString field = QString::fromLatin1(limit.field);
        if (!field.startsWith(QLatin1String("DATA"))) {
            const QString problem = breach(limit, text(limit.field));
            if (!problem.isEmpty()) {
                req().logError(QStringLiteral("Параметр ") + field + QStringLiteral(": ") + problem);
                return fail(limit.code);
            }
            continue;
        }
        if (!dataRead && !readLimitedData(&data)) {
            return false;
        }
        dataRead = true;
        const QString problem = dataLimitBreach(limit, data);
        if (!problem.isEmpty()) {
            req().logError(problem);
            return fail(limit.code);
        }
    }
    return true;
}

// "DATA" as an array for the limits to look at. One past the bounds of client JSON is refused
// here, before anything parses it; one that is no array is the handler's to refuse.
bool Api::readLimitedData(QJsonArray* data)
{
    const QByteArray text = this->text("DATA").toUtf8();
    QString reason;
    if (!tarn::clientJsonWithinBounds(text, &reason)) {
        req().logError(QStringLiteral("Параметр DATA: ") + reason + QLatin1Char('.'));
        return fail(kDataFormatCode);
    }
    QJsonDocument document;
    tarn::parseClientJson(text, &document);
    *data = document.array();
    return true;
}

} // namespace client
