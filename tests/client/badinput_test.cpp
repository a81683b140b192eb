// Hostile texts in every text parameter of the account and reference-data commands.
#include "support/pgfixture.h"

#include "security/crypto.h"

using namespace testing_support;

namespace {

using BytePairs = QList<QPair<QByteArray, QByteArray>>;

struct Target {
    const char* command;
    const char* parameter;
    const char* table;  // where the value lands; null for a listing
    const char* column;
    BytePairs base;     // other parameters; "#" is replaced by a number unique to the call
};

class BadInput : public DbTest {
protected:
    void SetUp() override
    {
        DbTest::SetUp();
        initSchema();
        manufacturer = QByteArray::number(insertId(R"(INSERT INTO "ManufTable" ("Name") VALUES ('m') RETURNING "Id")"));
    }

    // Sends every hostile text in the parameter and checks the outcome.
    void sweep(const Target& target)
    {
        for (const HostileText& hostile : hostileTexts()) {
            ++counter;
            BytePairs params{{"CMD", target.command}, {"Auth", adminToken().toLatin1()},
                             {target.parameter, hostile.bytes}};
            for (auto pair : target.base) {
                pair.second.replace('#', QByteArray::number(counter));
                params << pair;
            }
            const CgiResult r = cgi->postBytes(params);
            const QString where = QStringLiteral("%1 %2 <- %3").arg(target.command, target.parameter, hostile.name);
            EXPECT_FALSE(r.log.contains("syntax error")) << qPrintable(where + r.describe());
            if (!target.table) {
                EXPECT_EQ(r.errorCode(), 0) << qPrintable(where + r.describe());
                continue;
            }
            if (r.errorCode() == 132) {
                EXPECT_TRUE(r.log.contains("value too long")) << qPrintable(where + r.describe());
                continue;
            }
            ASSERT_EQ(r.errorCode(), 0) << qPrintable(where + r.describe());
            const QString stored = db->scalar(QStringLiteral(R"(SELECT "%1" FROM "%2" WHERE "Id"=%3)")
                                                  .arg(target.column, target.table, r.id())).toString();
            const QString expected = QString::fromLatin1(target.column) == "PasHash"
                                         ? tarn::md5Hex(hostile.stored())
                                         : hostile.stored();
            EXPECT_EQ(stored, expected) << qPrintable(where);
        }
    }

    QByteArray manufacturer;
    int counter = 0;
};

TEST_F(BadInput, CompanyTexts)
{
    for (const char* parameter : {"Name", "Mail", "Phone", "Address", "Note"}) {
        const BytePairs base = QByteArray(parameter) == "Name" ? BytePairs{} : BytePairs{{"Name", "c#"}};
        sweep({"Add_Company", parameter, "CompanyTable", parameter, base});
    }
}

TEST_F(BadInput, AccountTexts)
{
    const BytePairs required{{"Login", "u#"}, {"Pas", "p"}, {"Status", "1"}, {"UserType", "3"}};
    for (const char* parameter : {"Login", "Pas", "Mail", "Phone", "Note"}) {
        BytePairs base;
        for (const auto& pair : required) {
            if (pair.first != parameter) {
                base << pair;
            }
        }
        sweep({"Add_User", parameter, "UserTable", QByteArray(parameter) == "Pas" ? "PasHash" : parameter, base});
    }
}

TEST_F(BadInput, ManufacturerAndModelTexts)
{
    sweep({"Add_Manuf", "Name", "ManufTable", "Name", {}});
    sweep({"Add_Manuf", "Note", "ManufTable", "Note", {{"Name", "m#"}}});
    sweep({"Add_Model", "Name", "ModelTable", "Name", {{"ManufId", manufacturer}}});
    sweep({"Add_Model", "Note", "ModelTable", "Note", {{"Name", "n#"}, {"ManufId", manufacturer}}});
}

TEST_F(BadInput, SearchTexts)
{
    sweep({"Get_UsersTable", "Login", nullptr, nullptr, {}});
    sweep({"Get_UsersTable", "Phone", nullptr, nullptr, {{"CompanyId", "0"}}});
    sweep({"Get_CompanyTable", "Name", nullptr, nullptr, {}});
    sweep({"Get_ManufTable", "NameFull", nullptr, nullptr, {}});
    sweep({"Get_ModelTable", "ModelName", nullptr, nullptr, {}});
    sweep({"Get_ModelTable", "ManufNameFull", nullptr, nullptr, {}});
}

TEST_F(BadInput, UpdatesNeverTouchOtherRows)
{
    createUser("victim", 3);
    const qint64 victim = userId("victim");
    createUser("editor", 3);
    const QByteArray editor = QByteArray::number(userId("editor"));
    for (const HostileText& hostile : hostileTexts()) {
        for (const char* parameter : {"Mail", "Phone", "Note", "Login", "UserId", "CompanyId", "Status"}) {
            const CgiResult r = cgi->postBytes({{"CMD", "Upd_User"}, {"Auth", adminToken().toLatin1()},
                                                {"UserId", editor}, {parameter, hostile.bytes}});
            EXPECT_FALSE(r.log.contains("syntax error")) << parameter << " " << hostile.name;
        }
    }
    EXPECT_EQ(db->scalar(QStringLiteral(R"(SELECT concat_ws('|', "Login", "PasHash", coalesce("Mail", '-'), "Status", "UserType") FROM "UserTable" WHERE "Id"=%1)").arg(victim)).toString(),
              QString("victim|" + tarn::md5Hex("pw-victim") + "||1|3"));
    EXPECT_EQ(db->count(R"(SELECT count(*) FROM "UserTable")"), 3);
}

} // namespace
