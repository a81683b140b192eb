// Hostile texts and malformed "DATA" in the premises commands.
#include "support/pgfixture.h"

#include <QElapsedTimer>

using namespace testing_support;

namespace {

// A JSON string literal around raw bytes: quotes, backslashes and control characters are
// escaped, every other byte (invalid UTF-8 included) travels as it is.
QByteArray jsonLiteral(const QByteArray& raw)
{
    QByteArray out = "\"";
    for (const char c : raw) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<uchar>(c) < 0x20) {
            out += QStringLiteral("\\u%1").arg(static_cast<uchar>(c), 4, 16, QLatin1Char('0')).toLatin1();
        } else {
            out += c;
        }
    }
    return out + '"';
}

class PremisesBadInput : public DbTest {
protected:
    void SetUp() override
    {
        DbTest::SetUp();
        initSchema();
        address = QByteArray::number(insertId(R"(INSERT INTO "AddressTable" ("Name") VALUES ('a') RETURNING "Id")"));
        object = QByteArray::number(insertId(QStringLiteral(R"(INSERT INTO "ObjectTable" ("AddressId") VALUES (%1) RETURNING "Id")").arg(QString::fromLatin1(address))));
    }
    CgiResult send(const char* command, QList<QPair<QByteArray, QByteArray>> params)
    {
        params.prepend({"Auth", adminToken().toLatin1()});
        params.prepend({"CMD", command});
        return cgi->postBytes(params);
    }
    // The value stored by a command that answers the new id, or the refusal for too long a text.
    void expectStored(const CgiResult& r, const QString& sql, const HostileText& hostile, const char* where)
    {
        EXPECT_FALSE(r.log.contains("syntax error")) << where << " " << hostile.name;
        if (r.errorCode() == 132 && r.log.contains("value too long")) {
            return;
        }
        ASSERT_EQ(r.errorCode(), 0) << where << " " << hostile.name << qPrintable(r.describe());
        EXPECT_EQ(db->scalar(sql.arg(r.id())).toString(), hostile.stored()) << where << " " << hostile.name;
    }

    QByteArray address;
    QByteArray object;
    int counter = 0;
};

TEST_F(PremisesBadInput, AddressAndObjectTexts)
{
    for (const HostileText& hostile : hostileTexts()) {
        for (const char* column : {"PostIndex", "CoordLat", "CoordLong", "Note"}) {
            const CgiResult r = send("Add_Address", {{"Name", "n"}, {"TimeShift", "0"}, {column, hostile.bytes}});
            expectStored(r, QStringLiteral(R"(SELECT "%1" FROM "AddressTable" WHERE "Id"=%2)").arg(column, "%1"), hostile, column);
        }
        const CgiResult fias = send("Add_Address", {{"Name", "n"}, {"TimeShift", "0"}, {"Fias", hostile.bytes}});
        HostileText trimmed = hostile;
        trimmed.bytes = hostile.stored().trimmed().toUtf8();
        expectStored(fias, R"(SELECT "JsonData"->>'fias' FROM "AddressTable" WHERE "Id"=%1)", trimmed, "Fias");
        for (const char* column : {"Obj", "Sq", "Note"}) {
            const CgiResult r = send("Add_Object", {{"AddressId", address}, {"ObjType", "1"}, {column, hostile.bytes}});
            expectStored(r, QStringLiteral(R"(SELECT "%1" FROM "ObjectTable" WHERE "Id"=%2)").arg(column, "%1"), hostile, column);
        }
        for (const char* search : {"Name", "NameFull", "PostIndex"}) {
            EXPECT_CODE(send("Get_AddressTable", {{search, hostile.bytes}}), 0) << search << hostile.name;
        }
        EXPECT_CODE(send("Get_ObjectTable", {{"AddressId", address}, {"Obj", hostile.bytes}}), 0);
        EXPECT_CODE(send("Get_CompanyAddresses", {{"AbonentName", hostile.bytes}}), 0);
        for (const char* number : {"AddressId", "ObjType", "ObjCount", "StartNum"}) {
            const CgiResult r = send("Add_Object", {{"AddressId", address}, {"ObjType", "1"}, {number, hostile.bytes}});
            EXPECT_NE(r.errorCode(), 0) << number << " " << hostile.name;
            EXPECT_FALSE(r.log.contains("syntax error"));
        }
        for (const char* number : {"TimeShift", "CompanyId"}) {
            const CgiResult r = send("Add_Address", {{"Name", "n"}, {"TimeShift", "1"}, {number, hostile.bytes}});
            EXPECT_NE(r.errorCode(), 0) << number << " " << hostile.name;
        }
    }
}

TEST_F(PremisesBadInput, DataKeysOfAbonentsAndAccounts)
{
    for (const HostileText& hostile : hostileTexts()) {
        for (const char* key : {"name", "login", "mail", "phone"}) {
            ++counter;
            const QByteArray login = key == QByteArray("login") ? jsonLiteral(hostile.bytes)
                                                                 : "\"login" + QByteArray::number(counter) + "\"";
            QByteArray element = "{\"objectId\":" + object + ",\"pas\":\"p\",\"login\":" + login;
            if (key != QByteArray("login")) {
                element += ",\"" + QByteArray(key) + "\":" + jsonLiteral(hostile.bytes);
            }
            if (key != QByteArray("name")) {
                element += ",\"name\":\"n\"";
            }
            const CgiResult r = send("Add_Abonents", {{"DATA", "[" + element + "}]"}});
            const QString column = QString::fromLatin1(key).replace(0, 1, QString::fromLatin1(key).left(1).toUpper());
            expectStored(r, QStringLiteral(R"(SELECT "%1" FROM "AbonentTable" WHERE "Id"=%2)").arg(column, "%1"), hostile, key);
        }
        const CgiResult account = send("Add_LicAccount", {{"DATA", "[{\"objectId\":" + object + ",\"resCode\":1,\"name\":" +
                                                                       jsonLiteral(hostile.bytes) + "}]"}});
        expectStored(account, R"(SELECT "Name" FROM "LicAccountTable" WHERE "Id"=%1)", hostile, "account name");
        EXPECT_CODE(send("Get_AbonentsTable", {{"Login", hostile.bytes}, {"MailFull", hostile.bytes}}), 0);
    }
}

TEST_F(PremisesBadInput, MalformedDataIsRefusedWholeAndQuickly)
{
    const struct {
        const char* name;
        QByteArray data;
        int code;
    } cases[] = {
        {"not json", "{objectId:1}", 157},
        {"object", R"({"objectId":1})", 157},
        {"nested arrays", "[[1,2],[3]]", 131},
        {"numbers as strings", R"([{"objectId":"1x","resCode":"1","name":"n"}])", 146},
        {"resCode as string", R"([{"objectId":")" + object + R"(","resCode":"1","name":"n"}])", 239},
        {"fractional id", R"([{"objectId":1.5,"resCode":1,"name":"n"}])", 146},
    };
    for (const auto& c : cases) {
        EXPECT_CODE(send("Add_LicAccount", {{"DATA", c.data}}), c.code) << c.name;
    }
    // 100,000 good elements and one bad one at the end: nothing is written.
    QByteArray big = "[";
    for (int i = 0; i < 100000; ++i) {
        big += "{\"objectId\":" + object + ",\"resCode\":1,\"name\":\"n" + QByteArray::number(i) + "\"},";
    }
    QElapsedTimer timer;
    timer.start();
    EXPECT_CODE(send("Add_LicAccount", {{"DATA", big + "{\"objectId\":" + object + ",\"resCode\":1}]"}}), 234);
    EXPECT_CODE(send("Add_Abonents", {{"DATA", big + "7]"}}), 131);
    EXPECT_LT(timer.elapsed(), 30000);
    EXPECT_EQ(db->count(R"(SELECT count(*) FROM "LicAccountTable")"), 0);
    EXPECT_EQ(db->count(R"(SELECT count(*) FROM "AbonentTable")"), 0);
}

} // namespace
