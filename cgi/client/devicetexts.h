#pragma once

#include "db/deviceidentity.h"

#include <QString>

class QSqlQuery;

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

} // namespace client
