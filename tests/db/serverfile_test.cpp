// The server file is read on every request. A persistent process keeps its connection from
// one request to the next, and must still act on a changed key with the very next request.
#include "support/pgfixture.h"

#include "security/crypto.h"

#include <QElapsedTimer>

using namespace testing_support;

namespace {

class ServerFile : public DbTest {
protected:
    void SetUp() override
    {
        DbTest::SetUp();
        initSchema();
        settings = PgServer::serverConfig(db->name());
    }

    CgiResult profileWith(const QString& key, const QString& value, const QString& token)
    {
        QMap<QString, QString> changed = settings;
        changed.insert(key, value);
        cgi->writeServerConfig(changed);
        return call(token, QStringLiteral("Get_UserData"));
    }

    QMap<QString, QString> settings;
};

TEST_F(ServerFile, EachConnectionKeyAndTheTokenKeyTakeEffectWithTheNextRequest)
{
    const struct {
        const char* key;
        QString value;
    } wrong[] = {
        {"server", "127.0.0.2"}, {"port", "1"}, {"db", "no_such_database"},
        {"user", "nobody"},      {"password", "wrong"},
    };
    for (const auto& c : wrong) {
        ASSERT_CODE(profileWith(c.key, settings.value(c.key), adminToken()), 0) << c.key;
        EXPECT_CODE(profileWith(c.key, c.value, adminToken()), 20) << c.key;
    }
    QString tokenUnderNewKey;
    tarn::Crypto().encryptText(QStringLiteral("admin:") + tarn::md5Hex(QStringLiteral("tulip")), "basalt",
                               &tokenUnderNewKey);
    ASSERT_CODE(profileWith("key", "quartz", adminToken()), 0);
    EXPECT_CODE(profileWith("key", "basalt", tokenUnderNewKey), 0);
    EXPECT_NE(profileWith("key", "basalt", adminToken()).errorCode(), 0);
}

// A change waits for a company row the test holds locked, until the statement limit of the
// moment ends it. Debug records follow "dbg" just as promptly.
TEST_F(ServerFile, TheStatementLimitAndDebugRecordsFollowTheFile)
{
    const QString company = QString::number(createCompany(QStringLiteral("Held")));
    const auto cutAfter = [&](const char* seconds, const char* debug, qint64* elapsedMs) {
        settings.insert(QStringLiteral("query_timeout"), seconds);
        settings.insert(QStringLiteral("dbg"), debug);
        cgi->writeServerConfig(settings);
        db->connection().transaction();
        db->exec(QStringLiteral(R"(SELECT 1 FROM "CompanyTable" WHERE "Id"=%1 FOR UPDATE)").arg(company));
        QElapsedTimer timer;
        timer.start();
        const CgiResult r = callAsAdmin(QStringLiteral("Upd_Company"), {{"Id", company}, {"Name", "x"}});
        *elapsedMs = timer.elapsed();
        db->connection().rollback();
        return r;
    };
    const QString debugRecord = QStringLiteral("[dbg] Логин пользователя: admin");
    qint64 first = 0, second = 0;
    const CgiResult quiet = cutAfter("1", "false", &first);
    EXPECT_CODE(quiet, 132);
    EXPECT_FALSE(quiet.log.contains(debugRecord)) << qPrintable(quiet.log);
    const CgiResult traced = cutAfter("2", "true", &second);
    EXPECT_CODE(traced, 132);
    EXPECT_TRUE(traced.log.contains(debugRecord)) << qPrintable(traced.log);
    EXPECT_LT(first, 1800);
    EXPECT_GE(second, 1900);
}

} // namespace
