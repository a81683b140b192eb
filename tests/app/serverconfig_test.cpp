#include "app/serverconfig.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "support/qtprinters.h"

#include <gtest/gtest.h>

namespace {

void writeFile(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(text);
}

TEST(ServerConfig, ProgramInABinDirectoryUsesItsParent)
{
    using orvela::ServerConfig;
    EXPECT_EQ(ServerConfig::baseDirectoryFor("/app/bin"), "/app/");
    EXPECT_EQ(ServerConfig::baseDirectoryFor("/app/bin/"), "/app/");
    EXPECT_EQ(ServerConfig::baseDirectoryFor("/app/tools"), "/app/tools/");
    EXPECT_EQ(ServerConfig::pathFileFor("/app/"), "/app/cnf/orvela.cnf");
}

TEST(ServerConfig, WorkingDirectoryMustNameAnExistingDirectory)
{
    QTemporaryDir base;
    QTemporaryDir work;
    const QString baseDir = base.path() + "/";
    const QString pathFile = orvela::ServerConfig::pathFileFor(baseDir);
    EXPECT_EQ(orvela::ServerConfig::workingDirectoryFor(baseDir), baseDir);
    writeFile(pathFile, "[orvela]\nPATH=" + work.path().toUtf8() + "\n");
    EXPECT_EQ(orvela::ServerConfig::workingDirectoryFor(baseDir), work.path() + "/");
    writeFile(pathFile, "[orvela]\nPATH=" + work.path().toUtf8() + "/missing\n");
    EXPECT_EQ(orvela::ServerConfig::workingDirectoryFor(baseDir), baseDir);
}

TEST(ServerConfig, DefaultsAndQtConversionRules)
{
    QTemporaryDir base;
    orvela::ServerConfig defaults = orvela::ServerConfig::load(base.path() + "/bin");
    // Without a server file every key keeps its default.
    EXPECT_EQ(defaults.baseDir, base.path() + "/");
    EXPECT_EQ(defaults.dbPassword + defaults.keyText, "granitequartz");
    EXPECT_TRUE(defaults.logEnabled && defaults.getEnabled && !defaults.debug && !defaults.httpsOnly);
    EXPECT_EQ(defaults.dbPort * 1000 + defaults.queryTimeout, 5432120);

    writeFile(base.path() + "/cnf/server.cnf",
              "[orvela]\nlog=False\ndbg=yes\nget_enable=0\nhttps_only=\nport=abc\n"
              "query_timeout=70000\npassword=a,b\nkey=ключ\n");
    const orvela::ServerConfig c = orvela::ServerConfig::load(base.path() + "/bin");
    EXPECT_TRUE(!c.logEnabled && c.debug && !c.getEnabled && !c.httpsOnly);
    EXPECT_EQ(c.dbPort * 100000 + c.queryTimeout, 70000 & 0xFFFF);
    EXPECT_EQ(c.dbPassword + c.keyText, QStringLiteral("a,bключ"));
    // A key file's line end is no part of the key: a token made with the same key elsewhere reads.
    writeFile(base.path() + "/cnf/server.cnf", "[orvela]\nkey=other\nkey_file=token.key\n");
    writeFile(base.path() + "/token.key", "k1\r\n");
    const orvela::ServerConfig fromFile = orvela::ServerConfig::load(base.path() + "/bin");
    EXPECT_TRUE(fromFile.keyFileRead);
    EXPECT_EQ(fromFile.keyText, "k1");
    writeFile(base.path() + "/cnf/server.cnf",
              "[orvela]\nmax_body_mb=512\n"); // the largest accepted
    EXPECT_EQ(orvela::ServerConfig::load(base.path() + "/bin").maxBodyBytes, 512 << 20);
}

} // namespace
