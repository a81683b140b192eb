#pragma once

#include "db/deviceidentity.h"

#include <QHash>
#include <QList>
#include <QString>

#include <functional>

class QSqlQuery;

namespace orvela {
class Database;
}

namespace client {

// The identity of a device from a row with the columns "DevType", "ManId", "IdentNum" and
// "Ver".
orvela::DeviceIdentity identityOfRow(const QSqlQuery& row);

// "ABC 00001234 01 07": the manufacturer, the identification number (its eight BCD digits),
// the version and the type, in upper-case hexadecimal as the device's label shows them.
QString wmbusLine(const orvela::DeviceIdentity& identity);
// The identity one field a line: "ManId: ABC\nIdentNum: 00001234\nVer: 01\nDevType: 07".
QString wmbusText(const orvela::DeviceIdentity& identity);
// "WM;00001234;1;ABC": a short type code, the number, the version and the manufacturer.
QString devstrText(const orvela::DeviceIdentity& identity);
// "\nКоэф.трансформации: N", or nothing for the coefficient 1.
QString coefficientLine(qint64 transKoef);
// Model, manufacturer and factory number, one a line, and the coefficient when it is not 1.
QString devInfoText(const QString& model, const QString& manufacturer, const QString& zavNum, qint64 transKoef);

// The texts of a device's card that come from other tables, by device id; a device without
// one has no entry (an empty text).
struct DeviceTexts {
    QHash<qint64, QString> poverka; // "Дата поверки: ..." of the verification in force
    QHash<qint64, QString> install; // "Адрес установки: ..." of the current installation
    QHash<qint64, QString> abonent; // "Абонент: ..." of the premises of the current installation
};
// The texts of all the devices of a listing, each kind read with one statement for all of
// them. A failed statement is logged (the abonent's through logError) and leaves its kind
// empty.
DeviceTexts deviceTexts(orvela::Database& db, const QList<qint64>& deviceIds,
                        const std::function<void(const QString&)>& logError);
QHash<qint64, QString> poverkaTexts(orvela::Database& db, const QList<qint64>& deviceIds);

} // namespace client
