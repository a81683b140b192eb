#include "cgi/httpserver.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>

#include "support/qtprinters.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

struct Record {
    LogType type;
    QString text;
};

// An exchange fed from a pipe, with its records collected.
class Exchange {
public:
    explicit Exchange(const QList<QByteArray>& environment)
    {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        m_readFd = fds[0];
        m_writeFd = fds[1];
        server.setEnvironmentEntries(environment);
        server.setInputDescriptor(m_readFd);
        QObject::connect(&server, &tarn::HttpServer::toLog,
                         [this](LogType type, const QString& text) { records.append({type, text}); });
    }
    ~Exchange()
    {
        closeInput();
        ::close(m_readFd);
    }
    void feed(const QByteArray& bytes) { ASSERT_EQ(::write(m_writeFd, bytes.constData(), bytes.size()), bytes.size()); }
    void closeInput()
    {
        if (m_writeFd >= 0) {
            ::close(m_writeFd);
            m_writeFd = -1;
        }
    }
    bool read()
    {
        bool ok = false;
        server.readRequest(&ok);
        return ok;
    }
    QStringList texts(LogType type) const
    {
        QStringList found;
        for (const Record& r : records) {
            if (r.type == type) {
                found << r.text;
            }
        }
        return found;
    }

    tarn::HttpServer server;
    QList<Record> records;

private:
    int m_readFd = -1;
    int m_writeFd = -1;
};

QList<QByteArray> post(const QByteArray& type, qint64 length)
{
    return {"REQUEST_METHOD=POST", "CONTENT_TYPE=" + type, "CONTENT_LENGTH=" + QByteArray::number(length)};
}

TEST(HttpServer, EnvironmentKeepsNonEmptyTrimmedValuesUnderUpperCaseNames)
{
    Exchange ex({"https=", "  origin  = http://a ", "=skipped", "noequals", "QUERY_STRING=CMD=x"});
    ASSERT_TRUE(ex.read());
    EXPECT_FALSE(ex.server.environment().contains("HTTPS"));
    EXPECT_EQ(ex.server.environmentValue("ORIGIN"), "http://a");
    EXPECT_EQ(ex.server.environment().size(), 2);
}

TEST(HttpServer, ParametersComeFromBodyThenQueryThenFilesThenJsonNeverCookies)
{
    const QByteArray body = "CMD=fromBody";
    Exchange ex(post("application/x-www-form-urlencoded", body.size()) +
                QList<QByteArray>{"QUERY_STRING=CMD=fromQuery&Q=1", "HTTP_COOKIE=Auth=secret; X=1"});
    ex.feed(body);
    ex.closeInput();
    ASSERT_TRUE(ex.read());
    EXPECT_EQ(ex.server.parameterText("CMD"), "fromBody");
    EXPECT_EQ(ex.server.parameterText("Q"), "1");
    EXPECT_TRUE(ex.server.parameterText("Auth").isNull());
    EXPECT_EQ(ex.server.cookies().value("Auth"), "secret");
}

TEST(HttpServer, FormBodyIsOneLineAndGetNeverReadsInput)
{
    const QByteArray body = "a=1\nb=2";
    Exchange form(post("application/x-www-form-urlencoded", body.size()));
    form.feed(body);
    ASSERT_TRUE(form.read());
    EXPECT_EQ(form.server.postParameters(), (tarn::TextMap{{"a", "1"}}));

    Exchange get({"REQUEST_METHOD=GET", "CONTENT_LENGTH=100"});
    get.feed("a=1");
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(get.read());
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_TRUE(get.server.postParameters().isEmpty());
}

TEST(HttpServer, JsonBodyMembersBecomeParametersWithTextForms)
{
    const QByteArray body = R"({"CMD":"Add","N":5,"D":2.5,"B":true,"DATA":[{"a":1}],"Z":null})";
    Exchange ex(post("application/json; charset=UTF8", body.size()));
    ex.feed(body);
    ex.closeInput();
    ASSERT_TRUE(ex.read());
    EXPECT_EQ(ex.server.jsonParameters().size(), 6);
    EXPECT_EQ(ex.server.parameterText("N"), "5");
    EXPECT_EQ(ex.server.parameterText("D"), "2.5");
    EXPECT_EQ(ex.server.parameterText("B"), "true");
    EXPECT_EQ(ex.server.parameterText("DATA"), R"([{"a":1}])");
    EXPECT_TRUE(ex.server.parameterText("Z").isEmpty());
    EXPECT_EQ(ex.server.requestCharset(), "utf-8");
    EXPECT_EQ(ex.server.requestBody(), body);
}

TEST(HttpServer, BadHeadersAndBodiesFailWithTheirReasons)
{
    struct Case {
        QList<QByteArray> environment;
        QByteArray body;
        const char* error;
    };
    const Case cases[] = {
        {post("application/json", 0), "", "Неверный формат заголовка запроса 'Content-Length'."},
        {{"REQUEST_METHOD=post", "CONTENT_LENGTH=abc", "CONTENT_TYPE=text/plain"}, "x",
         "Неверный формат заголовка запроса 'Content-Length'."},
        {{"REQUEST_METHOD=POST", "CONTENT_LENGTH=3"}, "abc", "Не найден заголовок запроса 'Content-Type'."},
        {post("application/json", 5), "[1,2]", "Неверный формат запроса JSON."},
        {post("application/json", 4), "{\"a", "Неверный формат запроса JSON."},
    };
    for (const Case& c : cases) {
        Exchange ex(c.environment);
        ex.feed(c.body);
        ex.closeInput();
        EXPECT_FALSE(ex.read()) << c.error;
        EXPECT_EQ(ex.server.errorText(), QString::fromUtf8(c.error));
        EXPECT_EQ(ex.texts(LogError), QStringList{QString::fromUtf8(c.error)});
    }
}

TEST(HttpServer, SilentInputEndsWithTheWaitingTimeOut)
{
    Exchange ex(post("application/octet-stream", 10));
    tarn::ReadLimits limits;
    limits.waitMs = 150;
    ex.server.setReadLimits(limits);
    ex.feed("abc");
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(ex.read());
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_EQ(ex.server.errorText(), QStringLiteral("Тайм-аут ожидания данных содержимого запроса."));
}

TEST(HttpServer, TricklingInputEndsWithTheTotalTimeOut)
{
    Exchange ex(post("application/octet-stream", 1000));
    tarn::ReadLimits limits;
    limits.waitMs = 1000;
    limits.totalMs = 200;
    ex.server.setReadLimits(limits);
    ex.feed("a");
    EXPECT_FALSE(ex.read());
    EXPECT_EQ(ex.server.errorText(), QStringLiteral("Тайм-аут запроса. Слишком долгая передача данных."));
}

TEST(HttpServer, ShortBodyIsAcceptedWithAWarningAndTracedInDebugMode)
{
    Exchange ex(post("text/plain", 1000));
    ex.server.setDebug(true);
    ex.feed("hello");
    ex.closeInput();
    ASSERT_TRUE(ex.read());
    EXPECT_EQ(ex.server.requestBody(), "hello");
    EXPECT_EQ(ex.texts(LogWarning),
              QStringList{QStringLiteral("Значение 'Content-Length' не соответствует фактической длине 5")});
    const QStringList debug = ex.texts(LogDebug);
    EXPECT_TRUE(debug.contains(QStringLiteral("БЛОК 00 = 68 65 6C 6C 6F [5 Б]"))) << qPrintable(debug.join('\n'));
    EXPECT_TRUE(debug.contains(QStringLiteral("Всего прочитано байт: 5; Не прочитано (разница с 'Content-Length'): 995")));
}

TEST(HttpServer, DebugRecordsMaskSecretsButNotSimilarNames)
{
    const QByteArray body = "Pas=p1&PasOld=p0&tokenId=42";
    Exchange ex(post("application/x-www-form-urlencoded", body.size()) +
                QList<QByteArray>{"QUERY_STRING=Password=x&AUTH=y&Token=z&Login=admin"});
    ex.server.setDebug(true);
    ex.feed(body);
    ex.closeInput();
    ASSERT_TRUE(ex.read());
    const QStringList debug = ex.texts(LogDebug);
    for (const char* masked : {"Password", "AUTH", "Token", "Pas", "PasOld"}) {
        EXPECT_TRUE(debug.contains(QString::fromLatin1(masked) + " = ********")) << masked;
    }
    EXPECT_TRUE(debug.contains("tokenId = 42"));
    EXPECT_TRUE(debug.contains("Login = admin"));
    EXPECT_FALSE(debug.join('\n').contains("p1"));
}

TEST(HttpServer, ResponseHasSortedHeadersLengthAndBlankLine)
{
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    tarn::HttpServer server;
    server.setOutputDescriptor(fds[1]);
    server.setResponseHeader("Access-Control-Allow-Origin", "http://x");
    server.setResponseHeader("X-Empty", "");
    bool ok = false;
    server.writeResponse(&ok);
    ::close(fds[1]);
    ASSERT_TRUE(ok);
    char buffer[512];
    const ssize_t got = ::read(fds[0], buffer, sizeof buffer);
    ::close(fds[0]);
    EXPECT_EQ(QByteArray(buffer, static_cast<int>(got)),
              QByteArray("Access-Control-Allow-Origin: http://x\r\nContent-Length: 0\r\n"
                         "Content-Type: application/json\r\n\r\n"));
}

TEST(HttpServer, WriteToAClosedOutputFailsWithItsReason)
{
    tarn::HttpServer server;
    server.setOutputDescriptor(987);
    bool ok = true;
    server.writeResponse(&ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(server.errorText(), QStringLiteral("Не удалось открыть стандартный поток записи для отправки ответа."));

    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    server.setOutputDescriptor(fds[1]);
    server.writeResponse(&ok);
    ::close(fds[1]);
    EXPECT_FALSE(ok);
    EXPECT_EQ(server.errorText(), QStringLiteral("Не удалось отправить заголовки ответа."));
}

} // namespace
