#include "cgi/multipart.h"

#include <QJsonObject>

#include "support/qtprinters.h"

#include <gtest/gtest.h>

namespace {

struct Parsed {
    bool ok = false;
    QString error;
    tarn::TextMap fields;
    tarn::FileMap files;
    tarn::JsonMap json;
};

Parsed parse(const QByteArray& body, const QString& contentType)
{
    Parsed p;
    p.ok = tarn::parseMultipart(body, contentType, {&p.fields, &p.files, &p.json}, &p.error);
    return p;
}

const QString kType = QStringLiteral("multipart/form-data; boundary=XyZ");

TEST(Multipart, TextFilesBinaryAndJsonPartsGoToTheirMaps)
{
    const QByteArray body =
        "--XyZ\r\nContent-Disposition: form-data; name=\"CMD\"\r\n\r\n Get_UserData \r\n"
        "--XyZ\r\nContent-Disposition: form-data; name=\"empty\"\r\n\r\n\r\n"
        "--XyZ\r\nContent-Disposition: form-data; name=\"blank\"\r\n\r\n  \r\n"
        "--XyZ\r\nContent-Disposition: form-data; name=\"doc\"; filename=\"a.txt\"\r\n"
        "Content-Type: text/plain\r\n\r\nline1\r\nline2\r\n"
        "--XyZ\r\nContent-Disposition: form-data; name=\"bin\"\r\nContent-Transfer-Encoding: binary\r\n\r\nabc\r\n"
        "--XyZ\r\nContent-Disposition: form-data; name=\"raw\"\r\n"
        "Content-Type: application/octet-stream\r\n\r\n" +
        QByteArray("\x01\x02\x00\x03", 4) +
        "\r\n--XyZ\r\nContent-Disposition: form-data; name=\"obj\"\r\n"
        "Content-Type: application/json\r\n\r\n{\"a\":1}\r\n"
        "--XyZ\r\nContent-Disposition: form-data; name=\"имя\"\r\n\r\nзначение\r\n"
        "--XyZ--\r\n";
    const Parsed p = parse(body, kType);
    ASSERT_TRUE(p.ok) << qPrintable(p.error);
    EXPECT_EQ(p.fields.value("CMD"), "Get_UserData");
    // A part with no bytes after its headers is skipped; one of blanks only reads as "1".
    EXPECT_FALSE(p.fields.contains("empty"));
    EXPECT_EQ(p.fields.value("blank"), "1");
    EXPECT_EQ(p.fields.value(QStringLiteral("имя")), QStringLiteral("значение"));
    EXPECT_EQ(p.files.value("doc"), QByteArray("line1\r\nline2"));
    EXPECT_EQ(p.files.value("raw"), QByteArray("\x01\x02\x00\x03", 4));
    EXPECT_EQ(p.files.value("bin"), QByteArray("abc"));
    EXPECT_EQ(p.json.value("obj").toObject().value("a").toInt(), 1);
}

TEST(Multipart, QuotedBoundaryAndBareLineFeeds)
{
    const QByteArray body = "--q1\nContent-Disposition: form-data; name=\"a\"\n\nx\n--q1\n"
                            "Content-Disposition: form-data; name=\"b\"\n\ny\n--q1--\n";
    const Parsed p = parse(body, QStringLiteral("multipart/form-data; boundary=\"q1\""));
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.fields, (tarn::TextMap{{"a", "x"}, {"b", "y"}}));
}

TEST(Multipart, MissingBoundaryOrANonObjectJsonPartFails)
{
    const Parsed noBoundary = parse("--XyZ\r\n", QStringLiteral("multipart/form-data"));
    EXPECT_EQ(noBoundary.error, QStringLiteral("Не найдено значение разделителя 'Boundary'."));
    const QByteArray body = "--XyZ\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n"
                            "--XyZ\r\nContent-Disposition: form-data; name=\"j\"\r\n"
                            "Content-Type: application/json\r\n\r\n[1,2]\r\n--XyZ--";
    const Parsed p = parse(body, kType);
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.error, QStringLiteral("Неверный формат параметра запроса JSON."));
    EXPECT_EQ(p.fields.value("a"), "1"); // parts before the failure stay
}

TEST(Multipart, UnclosedBodyHeaderlessAndNamelessPartsAreTolerated)
{
    const QByteArray body = "--XyZ\r\nno headers here\r\n"
                            "--XyZ\r\nContent-Disposition: form-data; filename=\"x\"\r\n\r\nq\r\n"
                            "--XyZ\r\nContent-Disposition: form-data; name=\"last\"\r\n\r\ntail";
    const Parsed p = parse(body, kType);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.fields, (tarn::TextMap{{"last", "tail"}}));
    EXPECT_TRUE(p.files.isEmpty());
}

} // namespace
