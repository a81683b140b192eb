// Whatever arrives in the environment and on standard input, the program answers with one
// well-formed envelope, closes its log and ends in time.
#include "support/cgirunner.h"

#include <QJsonDocument>
#include <QRandomGenerator>

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

struct Hostile {
    const char* name;
    Environment environment;
    QByteArray input;
};

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(12345);
    for (char& byte : bytes) {
        byte = static_cast<char>(generator.bounded(256));
    }
    return bytes;
}

QList<Hostile> hostileInputs()
{
    const QByteArray deepJson = QByteArray(5000, '[') + QByteArray(5000, ']');
    const QByteArray deepObject = "{\"a\":" + QByteArray(3000, '[') + QByteArray(3000, ']') + "}";
    const QByteArray binary = randomBytes(70000);
    const QByteArray unclosedMultipart =
        "--b\r\nContent-Disposition: form-data; name=\"CMD\"\r\n\r\ntest\r\n--b\r\n"
        "Content-Disposition: form-data; name=\"x\"\r\n\r\n" + binary.left(3000);
    auto post = [](const QByteArray& type, const QByteArray& body, const QByteArray& length = QByteArray()) {
        return Environment{{"REQUEST_METHOD", "POST"},
                           {"CONTENT_TYPE", type},
                           {"CONTENT_LENGTH", length.isEmpty() ? QByteArray::number(body.size()) : length}};
    };
    return {
        {"binary query string", {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", binary.left(4000).replace('\0', 'x')}}, {}},
        {"invalid utf-8", {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "CMD=%FF%FE%C0&Auth=%80"}}, {}},
        {"cookie garbage", {{"REQUEST_METHOD", "GET"}, {"HTTP_COOKIE", ";;==;\xff\xfe=;CMD=test"}}, {}},
        {"length far beyond body", post("application/json", "{\"CMD\":\"test\"}", "99999999999"), "{\"CMD\":\"test\"}"},
        {"negative length", post("application/json", "{}", "-5"), "{}"},
        {"binary body as json", post("application/json", binary), binary},
        {"binary body as form", post("application/x-www-form-urlencoded", binary), binary},
        {"binary body as octet stream", post("application/octet-stream", binary), binary},
        {"unclosed multipart", post("multipart/form-data; boundary=b", unclosedMultipart), unclosedMultipart},
        {"multipart without boundary", post("multipart/form-data", "--b\r\n"), "--b\r\n"},
        {"json nested thousands deep", post("application/json", deepJson), deepJson},
        {"json member nested deep", post("application/json", deepObject), deepObject},
        {"content type garbage", post(";;;charset=;=;", "x=1"), "x=1"},
        {"quote in command", {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "CMD=%27%3B%20drop%20table%20x%3B--"}}, {}},
        {"no environment at all", {}, {}},
    };
}

TEST(HostileInput, EveryRequestEndsInOneEnvelopeAndAClosedLog)
{
    CgiInstall cgi;
    // Nothing may reach a database here: a request that gets that far finds none.
    cgi.writeServerConfig({{"server", "127.0.0.1"}, {"port", "1"}, {"dbg", "true"}});
    for (const Hostile& h : hostileInputs()) {
        const CgiResult r = cgi.run(h.environment, h.input, 20000);
        ASSERT_TRUE(r.finished) << h.name;
        EXPECT_EQ(r.exitCode, 0) << h.name;
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(r.body, &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << h.name;
        EXPECT_TRUE(doc.object().contains("info")) << h.name;
        EXPECT_TRUE(r.headerLines.contains("Content-Length: " + QByteArray::number(r.body.size()))) << h.name;
        const QStringList lines = r.logLines();
        EXPECT_TRUE(!lines.isEmpty() && lines.last().contains(QStringLiteral("Окончание. Время работы")))
            << h.name;
        EXPECT_EQ(r.output.count("\"info\""), 1) << h.name;
    }
}

} // namespace
