// The exchange in-process, fed from pipes: parameters, bodies, time limits and the response.
#include "cgi/httpserver.h"

#include "support/qtprinters.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

// An exchange reading from a pipe, with its records collected.
class Exchange {
public:
    explicit Exchange(const QList<QByteArray>& environment, const QByteArray& input = QByteArray(),
                      bool close = true, const tarn::ReadLimits& limits = tarn::ReadLimits())
    {
        server.setReadLimits(limits);
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        m_readFd = fds[0];
        m_writeFd = fds[1];
        EXPECT_EQ(::write(m_writeFd, input.constData(), input.size()), input.size());
        if (close) {
            ::close(m_writeFd);
            m_writeFd = -1;
        }
        server.setEnvironmentEntries(environment);
        server.setInputDescriptor(m_readFd);
        QObject::connect(&server, &tarn::HttpServer::toLog, [this](LogType type, const QString& text) {
            records[type] << text;
        });
    }
    ~Exchange()
    {
        if (m_writeFd >= 0) {
            ::close(m_writeFd);
        }
    }
    bool read()
    {
        bool ok = false;
        server.readRequest(&ok);
        return ok;
    }

    tarn::HttpServer server;
    QMap<LogType, QStringList> records;

private:
    int m_readFd = -1;
    int m_writeFd = -1;
};

QList<QByteArray> post(const QByteArray& type, qint64 length)
{
    return {"REQUEST_METHOD=POST", "CONTENT_TYPE=" + type, "CONTENT_LENGTH=" + QByteArray::number(length)};
}

TEST(HttpServer, ParametersComeFromBodyThenQueryNeverCookies)
{
    const QByteArray body = "CMD=fromBody";
    Exchange ex(post("application/x-www-form-urlencoded", body.size()) +
                    QList<QByteArray>{"QUERY_STRING=CMD=fromQuery&Q=1", "HTTP_COOKIE=Auth=secret", "https=",
                                      "  origin  = http://a ", "=skipped", "noequals"},
                body + "\nsecond=line");
    ASSERT_TRUE(ex.read());
    EXPECT_EQ(ex.server.parameterText("CMD"), "fromBody");
    EXPECT_EQ(ex.server.parameterText("Q"), "1");
    EXPECT_TRUE(ex.server.parameterText("second").isNull());
    EXPECT_TRUE(ex.server.parameterText("Auth").isNull());
    EXPECT_EQ(ex.server.cookies().value("Auth"), "secret");
    // Empty values are not kept; names are trimmed and upper-cased.
    EXPECT_FALSE(ex.server.environment().contains("HTTPS"));
    EXPECT_EQ(ex.server.environmentValue("ORIGIN"), "http://a");
}

TEST(HttpServer, JsonBodyMembersBecomeParametersWithTextForms)
{
    const QByteArray body = R"({"CMD":"Add","N":5,"D":2.5,"B":true,"DATA":[{"a":1}],"Z":null})";
    Exchange ex(post("application/json; charset=UTF8", body.size()), body);
    ASSERT_TRUE(ex.read());
    EXPECT_EQ(ex.server.parameterText("N"), "5");
    EXPECT_EQ(ex.server.parameterText("D"), "2.5");
    EXPECT_EQ(ex.server.parameterText("DATA"), R"([{"a":1}])");
    EXPECT_TRUE(ex.server.parameterText("Z").isEmpty());
    EXPECT_EQ(ex.server.requestBody(), body);
}

TEST(HttpServer, GetNeverReadsInputAndBadBodiesFailWithTheirReasons)
{
    Exchange get({"REQUEST_METHOD=GET", "CONTENT_LENGTH=100"}, "a=1", false);
    ASSERT_TRUE(get.read());
    EXPECT_TRUE(get.server.postParameters().isEmpty());
    const struct {
        QList<QByteArray> environment;
        QByteArray body;
        const char* error;
    } cases[] = {
        {post("application/json", 0), "", "Неверный формат заголовка запроса 'Content-Length'."},
        {{"REQUEST_METHOD=POST", "CONTENT_LENGTH=3"}, "abc", "Не найден заголовок запроса 'Content-Type'."},
        {post("application/json", 5), "[1,2]", "Неверный формат запроса JSON."},
    };
    for (const auto& c : cases) {
        Exchange ex(c.environment, c.body);
        EXPECT_FALSE(ex.read()) << c.error;
        EXPECT_EQ(ex.server.errorText(), QString::fromUtf8(c.error));
        EXPECT_EQ(ex.records.value(LogError), QStringList{QString::fromUtf8(c.error)});
    }
}

TEST(HttpServer, SilentOrTricklingInputEndsWithItsTimeOut)
{
    tarn::ReadLimits limits;
    limits.waitMs = 150;
    Exchange silent(post("application/octet-stream", 10), "abc", false, limits);
    EXPECT_FALSE(silent.read());
    EXPECT_EQ(silent.server.errorText(), QStringLiteral("Тайм-аут ожидания данных содержимого запроса."));

    limits.waitMs = 1000;
    limits.totalMs = 200;
    Exchange trickling(post("application/octet-stream", 1000), "a", false, limits);
    EXPECT_FALSE(trickling.read());
    EXPECT_EQ(trickling.server.errorText(), QStringLiteral("Тайм-аут запроса. Слишком долгая передача данных."));
}

// One request must not take the machine's memory: a body announced beyond the limit is not
// read at all, and one that turns out longer stops where it crosses the limit.
TEST(HttpServer, BodiesBeyondTheLimitAreRefused)
{
    tarn::ReadLimits limits;
    limits.maxBodyBytes = 100;
    const QString tooLong = QStringLiteral("Размер содержимого запроса превышает допустимый: 100 Б.");
    for (const QByteArray type : {"application/octet-stream", "application/x-www-form-urlencoded"}) {
        // The input stays open: a read would wait.
        Exchange announced(post(type, 101), "a=1", false, limits);
        QElapsedTimer timer;
        timer.start();
        EXPECT_FALSE(announced.read()) << type.constData();
        EXPECT_LT(timer.elapsed(), 1000);
        EXPECT_EQ(announced.server.errorText(), tooLong);
    }
    Exchange exact(post("application/octet-stream", 100), QByteArray(100, 'a'), true, limits);
    EXPECT_TRUE(exact.read());
    EXPECT_EQ(exact.server.requestBody().size(), 100);
    Exchange longer(post("application/octet-stream", 90), QByteArray(300, 'a'), true, limits);
    EXPECT_FALSE(longer.read());
    EXPECT_EQ(longer.server.errorText(), tooLong);
}

TEST(HttpServer, ShortBodyIsAcceptedWithAWarningAndTracedInDebugMode)
{
    Exchange ex(post("text/plain", 1000), "hello");
    ex.server.setDebug(true);
    ASSERT_TRUE(ex.read());
    EXPECT_EQ(ex.server.requestBody(), "hello");
    EXPECT_EQ(ex.records.value(LogWarning),
              QStringList{QStringLiteral("Значение 'Content-Length' не соответствует фактической длине 5")});
    EXPECT_TRUE(ex.records.value(LogDebug).contains(QStringLiteral("БЛОК 00 = 68 65 6C 6C 6F [5 Б]")));
}

// A long body is shown up to 16 KB, the cut said; a secret across the cut is masked all the same.
TEST(HttpServer, DebugTraceShowsTheFirstSixteenKilobytesOfABody)
{
    QByteArray body = R"({"CMD":"x","DATA":")";
    body += QByteArray(16384 - 2 - body.size() - int(qstrlen(R"(","Password":")")), 'a') + R"(","Password":"s3cret","Z":")";
    body += QByteArray(40000 - body.size() - 2, 'z') + R"("})";
    Exchange ex(post("application/json", body.size()), body);
    ex.server.setDebug(true);
    ASSERT_TRUE(ex.read());
    const QString debug = ex.records.value(LogDebug).join('\n');
    EXPECT_FALSE(debug.contains(QStringLiteral("БЛОК 16 = ")));
    EXPECT_TRUE(debug.contains(QStringLiteral("Содержимое запроса показано не полностью: первые 16384 Б из 40000 Б.")));
    EXPECT_FALSE(debug.contains(QStringLiteral("73 33"))) << "the first bytes of the password";
}

// Web servers pass the request target as REQUEST_URI, query string and its secrets included.
TEST(HttpServer, DebugRecordsOfTheHeadersHideSecretsOfTheRequestTarget)
{
    Exchange ex({"REQUEST_METHOD=GET", "QUERY_STRING=CMD=x&Password=s3cret",
                 "REQUEST_URI=/orvela?CMD=x&Password=s3cret&Auth=t0ken", "REDIRECT_URI=/o?Pas=s3cret",
                 // Headers and cookies of secrets' names, and of names that only look alike.
                 "HTTP_X_AUTH_TOKEN=t0ken", "HTTP_TOKEN=t0ken", "HTTP_PASSWORD=s3cret", "HTTP_AUTHORIZATION=Basic t0ken",
                 "HTTP_AUTH_MODE=plain", "HTTP_COOKIE=Password=s3cret; theme=dark; tokens=many"});
    ex.server.setDebug(true);
    ASSERT_TRUE(ex.read());
    const QString records = ex.records.value(LogDebug).join(QLatin1Char('\n'));
    for (const char* shown : {"HTTP_AUTH_MODE: plain", "theme: dark", "tokens: many", "Password: ********",
                              "HTTP_TOKEN: ********"}) {
        EXPECT_TRUE(records.contains(QLatin1String(shown))) << shown << qPrintable(records);
    }
    EXPECT_FALSE(records.contains(QStringLiteral("s3cret"))) << qPrintable(records);
    EXPECT_FALSE(records.contains(QStringLiteral("t0ken"))) << qPrintable(records);
}

} // namespace
