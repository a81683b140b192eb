// Abonents and personal accounts.
#include "support/pgfixture.h"

#include "security/crypto.h"

#include <QJsonDocument>

using namespace testing_support;

namespace {

QJsonObject abonent(qint64 objectId, const QString& login, const QString& name = "Абонент")
{
    return {{"objectId", objectId}, {"name", name}, {"login", login}, {"pas", QString("p-" + login)},
            {"mail", QString(login + "@x.org")}, {"phone", ""}};
}

class Abonents : public TwoCompanies {
protected:
    void SetUp() override
    {
        TwoCompanies::SetUp();
        waterOperator = createUser("wop", 130, water);
        waterAddress = address(QStringLiteral("Лесная 5"), water);
        heatAddress = address(QStringLiteral("Полевая 7"), heat);
        flat1 = object(waterAddress, "1");
        flat2 = object(waterAddress, "2");
        heatFlat = object(heatAddress, "9");
    }
    qint64 count(const char* table) { return db->count(QStringLiteral("SELECT count(*) FROM \"%1\"").arg(table)); }

    qint64 waterAddress = 0, heatAddress = 0, flat1 = 0, flat2 = 0, heatFlat = 0;
    QString waterOperator;
};

TEST_F(Abonents, DataIsCheckedBeforeAnythingIsWritten)
{
    const struct {
        const char* data;
        int code;
    } cases[] = {{"", 156}, {"abc", 157}, {"{}", 157}, {"[]", 161}, {"[1]", 131}, {"[[{}]]", 131},
                 {R"([{"name":"n","login":"l","pas":"p"}])", 146}, {R"([{"objectId":"x"}])", 146},
                 {R"([{"objectId":"0x10","name":"","login":"l","pas":"p"}])", 234}};
    for (const auto& c : cases) {
        EXPECT_CODE(callAsAdmin("Add_Abonents", {{"DATA", c.data}}), c.code) << c.data;
    }
    // Two elements, the second at another company's object: neither is written.
    EXPECT_CODE(call(waterOperator, "Add_Abonents", {{"DATA", json({abonent(flat1, "a1"), abonent(heatFlat, "a2")})}}), 190);
    // A login repeated inside the batch is refused like a stored one.
    EXPECT_CODE(call(waterOperator, "Add_Abonents", {{"DATA", json({abonent(flat1, "same"), abonent(flat2, "same")})}}), 122);
    QJsonObject noPassword = abonent(flat1, "np");
    noPassword.remove("pas");
    EXPECT_CODE(call(waterOperator, "Add_Abonents", {{"DATA", json({abonent(flat2, "ok"), noPassword})}}), 218);
    EXPECT_EQ(count("AbonentTable"), 0);
    EXPECT_EQ(db->count(R"(SELECT count(*) FROM "ObjectTable" WHERE "AbonentId" IS NOT NULL)"), 0);
}

TEST_F(Abonents, AddLinksObjectsAndLeavesUnattachedOnesToAdministrators)
{
    const CgiResult two = call(waterOperator, "Add_Abonents", {{"DATA", json({abonent(flat1, "a1"), abonent(flat2, "a2")})}});
    ASSERT_CODE(two, 0);
    EXPECT_EQ(two.id(), "");
    EXPECT_EQ(value(QStringLiteral(R"(SELECT concat_ws('|', a."Name", a."PasHash", a."Mail", coalesce(a."Phone", 'null'), a."Status") FROM "AbonentTable" a JOIN "ObjectTable" o ON o."AbonentId"=a."Id" WHERE o."Id"=%1)").arg(flat2)),
              QStringLiteral("Абонент|") + tarn::md5Hex("p-a2") + "|a2@x.org|null|1");
    EXPECT_CODE(callAsAdmin("Add_Abonents", {{"DATA", json({abonent(0, "a1")})}}), 122);
    EXPECT_CODE(call(createUser("u4", 4), "Add_Abonents", {{"DATA", json({abonent(0, "a3")})}}), 146);
    const CgiResult loose = call(createUser("op3", 3), "Add_Abonents", {{"DATA", json({abonent(0, "a3")})}});
    ASSERT_CODE(loose, 0);
    EXPECT_GT(loose.idNumber(), 0);
    // DATA may also arrive as a JSON array in a JSON body.
    const CgiResult viaJson = cgi->postJson({{"CMD", "Add_Abonents"}, {"Auth", adminToken()},
                                             {"DATA", QJsonArray{abonent(0, "a4")}}});
    EXPECT_CODE(viaJson, 0);
    EXPECT_CODE(call(createUser("u131", 131, water), "Add_Abonents", {{"DATA", json({abonent(flat1, "a5")})}}), 143);
}

TEST_F(Abonents, UpdateChecksTheObjectBeforeChangingAnything)
{
    const CgiResult added = call(waterOperator, "Add_Abonents", {{"DATA", json({abonent(flat1, "anna")})}});
    ASSERT_CODE(added, 0);
    const QString id = added.id();
    const QString hash = tarn::md5Hex("p-anna");
    QJsonObject change = abonent(flat2, "anna", "Анна");
    change["pas"] = "ignored";
    ASSERT_CODE(call(waterOperator, "Upd_Abonent", {{"AbonentId", id}, {"DATA", json({change})}}), 0);
    EXPECT_EQ(value(QStringLiteral(R"(SELECT concat_ws('|', "Name", "PasHash") FROM "AbonentTable" WHERE "Id"=%1)").arg(id)),
              QStringLiteral("Анна|") + hash);
    EXPECT_EQ(db->scalar(QStringLiteral(R"(SELECT "AbonentId" FROM "ObjectTable" WHERE "Id"=%1)").arg(flat2)).toString(), id);
    change["changePas"] = true;
    ASSERT_CODE(call(waterOperator, "Upd_Abonent", {{"AbonentId", id}, {"DATA", json({change})}}), 0);
    EXPECT_EQ(value(QStringLiteral(R"(SELECT "PasHash" FROM "AbonentTable" WHERE "Id"=%1)").arg(id)), tarn::md5Hex("ignored"));

    QJsonObject foreign = abonent(heatFlat, "anna", "Чужая");
    EXPECT_CODE(call(waterOperator, "Upd_Abonent", {{"AbonentId", id}, {"DATA", json({foreign})}}), 190);
    EXPECT_EQ(value(QStringLiteral(R"(SELECT "Name" FROM "AbonentTable" WHERE "Id"=%1)").arg(id)), QStringLiteral("Анна"));
    callAsAdmin("Add_Abonents", {{"DATA", json({abonent(0, "taken")})}});
    EXPECT_CODE(call(waterOperator, "Upd_Abonent", {{"AbonentId", id}, {"DATA", json({abonent(flat1, "taken")})}}), 122);
    change["pas"] = "";
    EXPECT_CODE(call(waterOperator, "Upd_Abonent", {{"AbonentId", id}, {"DATA", json({change})}}), 218);
}

TEST_F(Abonents, ListAndDeleteWithinTheCompany)
{
    ASSERT_CODE(call(waterOperator, "Add_Abonents", {{"DATA", json({abonent(flat1, "both"), abonent(flat2, "mine")})}}), 0);
    const qint64 both = value(R"(SELECT "Id" FROM "AbonentTable" WHERE "Login"='both')").toLongLong();
    db->exec(QStringLiteral(R"(UPDATE "ObjectTable" SET "AbonentId"=%1 WHERE "Id"=%2)").arg(both).arg(heatFlat));

    const CgiResult list = call(waterOperator, "Get_AbonentsTable", {{"AddressId", "0"}});
    ASSERT_CODE(list, 0);
    ASSERT_EQ(list.data().size(), 2);
    EXPECT_EQ(list.row(0), (QJsonObject{{"id", both}, {"name", QStringLiteral("Абонент")}, {"phone", ""},
                                        {"mail", "both@x.org"}, {"login", "both"}, {"addressId", waterAddress},
                                        {"objectId", flat1}, {"address", QStringLiteral("Лесная 5, 1")}}));
    EXPECT_EQ(call(waterOperator, "Get_AbonentsTable", {{"LoginFull", "mine"}, {"Login", "b"}}).data().size(), 1);
    EXPECT_EQ(callAsAdmin("Get_AbonentsTable", {{"CompanyId", QString::number(heat)}}).data().size(), 1);

    EXPECT_CODE(call(waterOperator, "Del_Abonent", {{"AbonentId", QString::number(both)}}), 120);
    EXPECT_EQ(count("AbonentTable"), 2);
    const QString mine = value(R"(SELECT "Id" FROM "AbonentTable" WHERE "Login"='mine')");
    ASSERT_CODE(call(waterOperator, "Del_Abonent", {{"AbonentId", mine}}), 0);
    EXPECT_EQ(db->count(QStringLiteral(R"(SELECT count(*) FROM "ObjectTable" WHERE "AbonentId"=%1)").arg(mine)), 0);
    EXPECT_CODE(call(createUser("hop", 130, heat), "Del_Abonent", {{"AbonentId", mine}}), 190);
    ASSERT_CODE(callAsAdmin("Del_Abonent", {{"AbonentId", QString::number(both)}}), 0);
    EXPECT_EQ(count("AbonentTable"), 0);
}

TEST_F(Abonents, PersonalAccountsWithTheirAbonentAndDevices)
{
    const QJsonObject account1{{"objectId", flat1}, {"resCode", 2}, {"name", "ЛС-1"}};
    const QJsonObject account2{{"objectId", QString::number(flat2)}, {"resCode", 4}, {"name", "ЛС-2"}};
    ASSERT_CODE(call(waterOperator, "Add_LicAccount", {{"DATA", json({account1, account2})}}), 0);
    EXPECT_EQ(count("LicAccountTable"), 2);
    EXPECT_CODE(call(waterOperator, "Add_LicAccount", {{"DATA", json({account1, QJsonObject{{"objectId", heatFlat}, {"resCode", 1}, {"name", "x"}}})}}), 190);
    EXPECT_CODE(call(waterOperator, "Add_LicAccount", {{"DATA", json({QJsonObject{{"objectId", flat1}, {"name", "x"}}})}}), 239);
    EXPECT_CODE(call(waterOperator, "Add_LicAccount", {{"DATA", json({QJsonObject{{"objectId", flat1}, {"resCode", 1}}})}}), 234);
    EXPECT_EQ(count("LicAccountTable"), 2);

    const qint64 person = insertId(R"(INSERT INTO "AbonentTable" ("Name", "PasHash", "Phone", "Mail") VALUES ('Орлов', 'x', '123', 'o@x') RETURNING "Id")");
    db->exec(QStringLiteral(R"(UPDATE "ObjectTable" SET "AbonentId"=%1 WHERE "Id"=%2)").arg(person).arg(flat1));
    const qint64 coldWater = model(2);
    installedDevice(coldWater, flat1, 1);
    installedDevice(coldWater, flat1, 2);
    const CgiResult list = call(waterOperator, "Get_LicAccountTable", {{"AddressId", QString::number(waterAddress)}});
    ASSERT_CODE(list, 0);
    ASSERT_EQ(list.data().size(), 2);
    QJsonObject first = list.row(0);
    first.remove("id");
    EXPECT_EQ(first, (QJsonObject{{"objectId", flat1}, {"name", QStringLiteral("ЛС-1")}, {"resCode", 2}, {"obj", "1"},
                                  {"abonentId", person}, {"abonent", QStringLiteral("Орлов\nТел.: 123\nE-mail: o@x")},
                                  {"device", QStringLiteral("Model (Z1)\nModel (Z2)")}}));
    EXPECT_FALSE(list.row(1).contains("abonentId"));
    EXPECT_EQ(list.row(1)["abonent"].toString(), "");
    EXPECT_EQ(list.row(1)["device"].toString(), "");
    EXPECT_EQ(call(waterOperator, "Get_LicAccountTable", {{"AddressId", QString::number(waterAddress)}, {"ResCode", "4"}}).data().size(), 1);

    const QString id = QString::number(list.row(1)["id"].toVariant().toLongLong());
    ASSERT_CODE(call(waterOperator, "Upd_LicAccount", {{"Id", id}, {"DATA", json({account1})}}), 0);
    EXPECT_EQ(value(QStringLiteral(R"(SELECT concat_ws('|', "ObjectId", "ResCode", "Name") FROM "LicAccountTable" WHERE "Id"=%1)").arg(id)),
              QStringLiteral("%1|2|ЛС-1").arg(flat1));
    EXPECT_CODE(call(createUser("hop", 130, heat), "Del_LicAccount", {{"Id", id}}), 235);
    EXPECT_CODE(call(waterOperator, "Del_LicAccount", {{"Id", id}}), 0);
    EXPECT_EQ(count("LicAccountTable"), 1);
}

TEST_F(Abonents, AccountListStopsAtTenThousandRows)
{
    db->exec(QStringLiteral(R"(INSERT INTO "LicAccountTable" ("ResCode", "ObjectId", "Name") SELECT 1, %1, 'n' || g FROM generate_series(1, 10001) g)").arg(flat1));
    const CgiResult list = callAsAdmin("Get_LicAccountTable", {{"AddressId", QString::number(waterAddress)},
                                                               {"CompanyId", QString::number(water)}});
    ASSERT_CODE(list, 0);
    EXPECT_EQ(list.data().size(), 10000);
}

} // namespace
