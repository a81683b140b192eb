// Values past the size of their column or the range of their number: refused with the field's
// own code before any statement, instead of a statement error; values at the limit stored whole.
#include "support/pgfixture.h"

#include "cgi/client/fieldlimits.h"

#include <QJsonDocument>
#include <QJsonObject>

using namespace testing_support;
using client::FieldLimit;

namespace {

class FieldLimits : public TwoCompanies {
protected:
    // A value of exactly `length` characters outside Latin-1, so that a count of bytes or
    // UTF-16 units instead of characters shows.
    static QString textOf(qint64 length) { return QString(static_cast<int>(length), QChar(0x044F)); }

    // One request carrying only the limited field, past its limit by one.
    CgiResult pastLimit(const FieldLimit& limit)
    {
        const QString field = QString::fromLatin1(limit.field);
        if (limit.kind == FieldLimit::Elements) {
            QJsonArray elements;
            for (qint64 i = 0; i <= limit.largest; ++i) {
                elements.append(QJsonObject());
            }
            return callAsAdmin(limit.command, {{field, json(elements)}});
        }
        const qint64 past = limit.largest + 1;
        const QJsonValue value = limit.kind == FieldLimit::Text ? QJsonValue(textOf(past))
                                                                : QJsonValue(double(past));
        if (!field.startsWith(QLatin1String("DATA."))) {
            const QString text = value.isString() ? value.toString() : QString::number(past);
            return callAsAdmin(limit.command, {{field, text}});
        }
        return callAsAdmin(limit.command, {{"DATA", json({QJsonObject{{field.mid(5), value}}})}});
    }
};

// Each limit is the size of the column its value goes to, as the schema made it: a limit
// written wrong would refuse good values or let bad ones through to a statement error. One past
// it: the field's code, an error record naming the field, and no statement (the refusal comes
// before the command's own checks, so nothing else need be valid).
TEST_F(FieldLimits, AreTheSizesOfTheSchemasColumnsAndOnePastIsRefused)
{
    const QString before = snapshot();
    for (const FieldLimit& limit : client::fieldLimits()) {
        const CgiResult r = pastLimit(limit);
        EXPECT_CODE(r, limit.code) << limit.command << " " << limit.field;
        const QString field = QString::fromLatin1(limit.field);
        const QString named = field.startsWith(QLatin1String("DATA.")) ? QStringLiteral("Поле ") + field.mid(5)
                                                                       : QStringLiteral("Параметр ") + field;
        EXPECT_TRUE(r.log.contains(named)) << qPrintable(r.describe());
        EXPECT_FALSE(r.log.contains(QStringLiteral("Ошибка при выполнении запроса"))) << qPrintable(r.describe());
        if (limit.kind == FieldLimit::Elements) {
            continue;
        }
        QSqlQuery query = db->exec(QStringLiteral("SELECT data_type, character_maximum_length FROM information_schema.columns "
                                                  "WHERE table_name='%1' AND column_name='%2'")
                                       .arg(QLatin1String(limit.table), QLatin1String(limit.column)));
        ASSERT_TRUE(query.next()) << limit.table << "." << limit.column << " is no column";
        const QString type = query.value(0).toString();
        const qint64 size = type == QLatin1String("smallint") ? 32767
                            : type == QLatin1String("integer") ? 2147483647
                                                               : query.value(1).toLongLong();
        EXPECT_EQ(limit.largest, size) << limit.command << " " << limit.field << " -> " << limit.column << " " << qPrintable(type);
        EXPECT_EQ(limit.kind == FieldLimit::Number, type != QLatin1String("character varying")) << limit.column;
    }
    EXPECT_EQ(snapshot(), before);
}

// At the limit the value is whole in the database: counted in characters, not bytes. One past
// it in any element of a batch, and nothing of the batch is written.
TEST_F(FieldLimits, AtTheLimitTheValueIsStoredWhole)
{
    const CgiResult company = callAsAdmin("Add_Company", {{"Name", textOf(60)}});
    const QString name = QStringLiteral(R"(SELECT "Name" FROM "CompanyTable" WHERE "Id"=%1)");
    EXPECT_EQ(value(name.arg(company.id())), textOf(60));
    QJsonObject device{{"devType", 7}, {"manId", "ABC"}, {"identNum", 1}, {"ver", 1}, {"zavNum", textOf(20)},
                       {"modelId", model()}, {"objectId", 0}, {"transKoef", 2147483647.0}};
    ASSERT_CODE(callAsAdmin("Add_Devices", {{"DATA", json({device})}}), 0);
    EXPECT_EQ(value(R"(SELECT "TransKoef" FROM "DeviceTable" WHERE "IdentNum"=1)"), "2147483647");
    QJsonObject third = device;
    device.insert("identNum", 2);
    third.insert("identNum", 3);
    third.insert("zavNum", textOf(21));
    EXPECT_CODE(callAsAdmin("Add_Devices", {{"DATA", json({device, third})}}), 329);
    EXPECT_EQ(db->count(R"(SELECT count(*) FROM "DeviceTable" WHERE "IdentNum" IN (2, 3))"), 0);
}

} // namespace
