// Hostile texts in every text parameter and "DATA" key: each is stored as sent (invalid UTF-8
// decoded, NUL dropped) or refused with a code; none changes a statement. Texts too long for
// their column are the field limits' tests', texts in number parameters the parameter table's.
#include "support/pgfixture.h"

#include "security/crypto.h"

#include <QElapsedTimer>

using namespace testing_support;

namespace {

using BytePairs = QList<QPair<QByteArray, QByteArray>>;

// A JSON string literal around raw bytes; invalid UTF-8 travels as it is.
QByteArray jsonLiteral(const QByteArray& raw)
{
    QByteArray out = "\"";
    for (const char c : raw) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += static_cast<uchar>(c) < 0x20
                   ? QStringLiteral("\\u%1").arg(static_cast<uchar>(c), 4, 16, QLatin1Char('0')).toLatin1()
                   : QByteArray(1, c);
    }
    return out + '"';
}

struct Target {
    const char* command;
    const char* parameter; // null when the text travels in "DATA" (the "@" of the base)
    const char* readBack;  // SQL with %1 for the new id; null for a listing that must answer 0
    BytePairs base;        // "#": a number unique to the call; "$model", "$object": fixtures
    const char* reset = nullptr; // run before each call
};

class BadInput : public DbTest {
protected:
    void SetUp() override
    {
        DbTest::SetUp();
        initSchema();
        model = QByteArray::number(insertId(R"(WITH m AS (INSERT INTO "ManufTable" ("Name") VALUES ('m') RETURNING "Id")
            INSERT INTO "ModelTable" ("Name", "ManufId") SELECT 'x', "Id" FROM m RETURNING "Id")"));
        object = QByteArray::number(insertId(R"(WITH a AS (INSERT INTO "AddressTable" ("Name") VALUES ('a') RETURNING "Id")
            INSERT INTO "ObjectTable" ("AddressId") SELECT "Id" FROM a RETURNING "Id")"));
    }

    CgiResult send(const char* command, BytePairs params)
    {
        params.prepend({"Auth", adminToken().toLatin1()});
        params.prepend({"CMD", command});
        return cgi->postBytes(params);
    }

    void sweep(const QList<Target>& targets)
    {
        for (const Target& target : targets) {
            for (const HostileText& hostile : hostileTexts()) {
                if (hostile.stored().size() > 20) {
                    continue; // the shortest column a target writes to
                }
                BytePairs params;
                for (auto pair : target.base) {
                    pair.second.replace('#', QByteArray::number(++counter)).replace("$model", model)
                        .replace("$object", object).replace("@", jsonLiteral(hostile.bytes));
                    params << pair;
                }
                if (target.parameter) {
                    params << qMakePair(QByteArray(target.parameter), hostile.bytes);
                }
                if (target.reset) {
                    db->exec(QString::fromLatin1(target.reset));
                }
                check(target, hostile, send(target.command, params));
            }
        }
    }

    // The code a text must be refused with, or 0 when it must be stored as sent: a NUL could
    // only be stored changed, and a login or password the log-in would read differently could
    // never be used.
    static int refusal(const Target& target, const HostileText& hostile)
    {
        const QByteArray parameter = target.parameter ? QByteArray(target.parameter) : QByteArray("DATA");
        const QString text = QString::fromUtf8(hostile.bytes);
        if (hostile.bytes.contains('\0')) {
            static const QMap<QByteArray, int> codes = {{"Login", 323}, {"Pas", 326}, {"Name", 322}, {"Mail", 324},
                                                        {"Phone", 325}, {"Note", 327}, {"DATA", 157}};
            return codes.value(parameter, 208);
        }
        if (!target.readBack) {
            return 0; // a search text has no format of its own
        }
        if (parameter == "Login" && target.parameter && (text.contains(':') || text.contains('@') || text != text.trimmed())) {
            return 323;
        }
        return parameter == "Pas" && text != text.trimmed() ? 326 : 0;
    }

    void check(const Target& target, const HostileText& hostile, const CgiResult& r)
    {
        const QString where = QStringLiteral("%1 %2 <- %3").arg(target.command, target.parameter, hostile.name);
        EXPECT_FALSE(r.log.contains("syntax error")) << qPrintable(where + r.describe());
        if (refusal(target, hostile) != 0 || !target.readBack) {
            EXPECT_EQ(r.errorCode(), refusal(target, hostile)) << qPrintable(where + r.describe());
        } else {
            ASSERT_EQ(r.errorCode(), 0) << qPrintable(where + r.describe());
            const QString readBack = QString::fromLatin1(target.readBack);
            const QString stored = db->scalar(readBack.contains("%1") ? readBack.arg(r.id()) : readBack).toString();
            const bool hashed = QByteArray(target.readBack).contains("PasHash");
            EXPECT_EQ(stored, hashed ? tarn::md5Hex(hostile.stored()) : hostile.stored()) << qPrintable(where);
        }
    }

    QByteArray model;
    QByteArray object;
    int counter = 0;
};

TEST_F(BadInput, EveryStoredTextAndItsListing)
{
    db->exec(QStringLiteral(R"(INSERT INTO "DeviceTable" ("Id", "ModelId") VALUES (500, %1))").arg(QString::fromLatin1(model)));
    db->exec(QStringLiteral(R"(INSERT INTO "InstallTable" ("DeviceId", "ObjectId", "DateInstall", "Actual") VALUES (500, %1, '2020-01-01', 1))").arg(QString::fromLatin1(object)));
    const BytePairs account{{"Pas", "p"}, {"Status", "1"}, {"UserType", "3"}};
    sweep({{"Add_Company", "Name", R"(SELECT "Name" FROM "CompanyTable" WHERE "Id"=%1)", {}},
           {"Add_User", "Login", R"(SELECT "Login" FROM "UserTable" WHERE "Id"=%1)", account},
           {"Add_User", "Pas", R"(SELECT "PasHash" FROM "UserTable" WHERE "Id"=%1)",
            {{"Login", "u#"}, {"Status", "1"}, {"UserType", "3"}}},
           {"Add_Manuf", "Name", R"(SELECT "Name" FROM "ManufTable" WHERE "Id"=%1)", {}},
           {"Add_Model", "Note", R"(SELECT "Note" FROM "ModelTable" WHERE "Id"=%1)", {{"Name", "n#"}, {"ManufId", "$model"}}},
           {"Add_Address", "Note", R"(SELECT "Note" FROM "AddressTable" WHERE "Id"=%1)", {{"Name", "n"}, {"TimeShift", "0"}}},
           {"Add_Object", "Obj", R"(SELECT "Obj" FROM "ObjectTable" WHERE "Id"=%1)", {{"AddressId", "1"}, {"ObjType", "1"}}},
           {"Add_Abonents", nullptr, R"(SELECT "Name" FROM "AbonentTable" WHERE "Id"=%1)",
            {{"DATA", R"([{"objectId":$object,"pas":"p","login":"l#","name":@}])"}}},
           {"Add_LicAccount", nullptr, R"(SELECT "Name" FROM "LicAccountTable" WHERE "Id"=%1)",
            {{"DATA", R"([{"objectId":$object,"resCode":1,"name":@}])"}}},
           {"Add_Devices", nullptr, R"(SELECT "ZavNum" FROM "DeviceTable" WHERE "Id"=%1)",
            {{"DATA", R"([{"devType":7,"manId":"ABC","identNum":#,"ver":1,"modelId":$model,"objectId":0,"zavNum":@}])"}}},
           {"Add_Task", "DromexNum", R"(SELECT "DromexNum" FROM "TaskTable" WHERE "DeviceId"=500)",
            {{"DeviceId", "500"}, {"CommandCode", "7"}, {"Value", "1"}}, R"(DELETE FROM "TaskTable")"},
           {"Get_ModelTable", "ManufNameFull", nullptr, {}},
           {"Get_AbonentsTable", "Login", nullptr, {}}});
}

TEST_F(BadInput, MalformedDataIsRefusedWholeAndQuickly)
{
    const QList<QPair<QByteArray, int>> cases{
        {"{objectId:1}", 157}, {"[[1,2],[3]]", 131}, {R"([{"objectId":1.5,"resCode":1,"name":"n"}])", 146},
        {R"([{"objectId":")" + object + R"(","resCode":"1","name":"n"}])", 239}};
    for (const auto& c : cases) {
        EXPECT_CODE(send("Add_LicAccount", {{"DATA", c.first}}), c.second) << c.first.constData();
    }
    // As many elements as a batch may hold, the last one bad: nothing is written, in good time.
    QByteArray big = "[";
    for (int i = 0; i < 4999; ++i) {
        big += "{\"objectId\":" + object + ",\"resCode\":1,\"name\":\"n" + QByteArray::number(i) + "\"},";
    }
    QElapsedTimer timer;
    timer.start();
    EXPECT_CODE(send("Add_LicAccount", {{"DATA", big + "{\"objectId\":" + object + ",\"resCode\":1}]"}}), 234);
    EXPECT_LT(timer.elapsed(), 30000);
    EXPECT_EQ(db->count(R"(SELECT count(*) FROM "LicAccountTable")"), 0);
}

} // namespace
