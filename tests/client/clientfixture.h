// What most client tests start from: Water's house "Ленина 1" with its flat "1", a flat of
// Heat's, a model of cold-water meters and Water's operator; and short forms for the ids and
// rows the tests send and read back.
#pragma once

#include "support/pgfixture.h"

namespace testing_support {

class WaterHouse : public TwoCompanies {
protected:
    void SetUp() override
    {
        TwoCompanies::SetUp();
        house = address(QStringLiteral("Ленина 1"), water);
        flat = object(house, QStringLiteral("1"));
        heatFlat = objectOf(heat);
        modelId = model(2);
        waterOperator = createUser(QStringLiteral("wop"), 130, water);
    }

    // A number as clients send it.
    static QString id(qint64 number) { return QString::number(number); }
    // The single value a statement reads, its "%1" being the number given.
    QString valueFor(const char* sql, qint64 number)
    {
        return value(QString::fromUtf8(sql).arg(number));
    }
    qint64 countFor(const char* sql, qint64 number) { return valueFor(sql, number).toLongLong(); }
    qint64 rows(const char* table)
    {
        return db->count(QStringLiteral(R"(SELECT count(*) FROM "%1")").arg(QLatin1String(table)));
    }

    qint64 house = 0, flat = 0, heatFlat = 0, modelId = 0;
    QString waterOperator;
};

} // namespace testing_support
