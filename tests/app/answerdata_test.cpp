// Rows written piece by piece read exactly as the same rows made whole, whatever their texts
// hold; the text stops at its limit.
#include "app/answerdata.h"
#include "app/jsontext.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

using orvela::AnswerData;

namespace {

QByteArray wholeText(const QJsonArray& rows)
{
    const QByteArray text = QJsonDocument(rows).toJson(QJsonDocument::Compact);
    return text.mid(1, text.size() - 2);
}

// An address row with objects holding devices, the way the largest answers are written.
QJsonObject device(const QString& name, int id)
{
    return QJsonObject{{"id", id}, {"zavNum", name}, {"devValues", QJsonArray{QJsonObject{{"val", name}}}}};
}

TEST(AnswerData, RowsWrittenPieceByPieceEqualTheRowsMadeWhole)
{
    // Texts that could confuse a splice: the marker itself, the list's key in quotes,
    // quotes, backslashes, Cyrillic, empty.
    const QStringList names = {QStringLiteral("\x01"), QStringLiteral("\"objects\":\"\\u0001\""),
                               QStringLiteral("\"devices\":[\\"), QStringLiteral("Ленина 1"), QString()};
    QJsonArray whole;
    AnswerData pieces;
    for (int a = 0; a < names.size(); ++a) {
        const QJsonObject addressFields{{"id", a}, {"name", names.at(a)}, {"timeShift", -150}, {"zz", names.at(a)}};
        pieces.open(addressFields, QStringLiteral("objects"));
        QJsonArray objects;
        // No object, one object, and objects with no device, one device and two.
        for (int o = 0; o < a; ++o) {
            const QJsonObject objectFields{{"obj", names.at(o)}, {"abonentName", names.at(a)}};
            pieces.open(objectFields, QStringLiteral("devices"));
            QJsonArray devices;
            for (int d = 0; d < o; ++d) {
                pieces.appendElement(device(names.at(d), d));
                devices.append(device(names.at(d), d));
            }
            pieces.close();
            QJsonObject object = objectFields;
            object.insert("devices", devices);
            objects.append(object);
        }
        pieces.close();
        QJsonObject address = addressFields;
        address.insert("objects", objects);
        whole.append(address);
        pieces.append(QJsonArray{names.at(a), a});
        whole.append(QJsonArray{names.at(a), a});
    }
    pieces.append(QStringLiteral("plain"));
    whole.append(QStringLiteral("plain"));
    EXPECT_EQ(pieces.text(), wholeText(whole));
    EXPECT_FALSE(pieces.overflowed());
}

TEST(AnswerData, StopsAtItsLimitAndSaysSo)
{
    const QJsonObject row{{"a", "x"}}; // {"a":"x"}: 9 bytes, 10 with its comma
    for (const qint64 limit : {18, 19, 20}) {
        AnswerData data;
        data.setLimit(limit);
        data.append(row);
        data.append(row);
        // Two rows take 19 bytes: at the limit and above it they fit, below it they do not.
        EXPECT_EQ(data.overflowed(), limit < 19) << limit;
        EXPECT_LE(data.size(), limit);
        data.clear();
        EXPECT_FALSE(data.overflowed());
        EXPECT_TRUE(data.isEmpty());
    }
    // A list that passes the limit halfway leaves the answer marked, whatever follows.
    AnswerData data;
    data.setLimit(40);
    data.open(QJsonObject{{"id", 1}}, QStringLiteral("list"));
    for (int i = 0; i < 10; ++i) {
        data.appendElement(row);
    }
    data.close();
    data.append(row);
    EXPECT_TRUE(data.overflowed());
    EXPECT_LE(data.size(), 40);
}

} // namespace

// Objects written straight as text equal Qt's compact writing of the same values: every
// character of the Basic Multilingual Plane, surrogate pairs, lone surrogates, the ends of the
// integer range.
TEST(JsonText, WritesWhatQtWrites)
{
    QStringList texts{QString(), QStringLiteral("\"\\/"), QStringLiteral("back\\slash"), QString::fromUcs4(U"\U0001F600"), QString(QChar(0xD800)),
                      QString(QChar(0xDC00)) + QLatin1Char('a')};
    for (uint c = 0; c < 0x10000; c += 7) {
        texts << QString(QChar(static_cast<ushort>(c))) + QStringLiteral("ж\n");
    }
    for (const QString& text : texts) {
        for (const qint64 number : {qint64(0), qint64(-1), qint64(65535), qint64(-2147483647 - 1), qint64(2147483647)}) {
            orvela::JsonText written;
            written.beginObject().key("a").value(number).key("b").value(text).key("c").beginArray().value(text).endArray().endObject();
            const QJsonObject made{{"a", number}, {"b", text}, {"c", QJsonArray{text}}};
            ASSERT_EQ(written.text(), QJsonDocument(made).toJson(QJsonDocument::Compact)) << text.toStdString();
        }
    }
}
