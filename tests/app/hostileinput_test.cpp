// Whatever arrives in the environment and on standard input, the program answers with one
// well-formed envelope, closes its log and ends in time.
#include "support/cgirunner.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

struct Hostile {
    const char* name;
    Environment environment;
    QByteArray input;
};

QList<Hostile> hostileInputs()
{
    QByteArray binary(70000, Qt::Uninitialized);
    QRandomGenerator generator(12345);
    for (char& byte : binary) {
        byte = static_cast<char>(generator.bounded(256));
    }
    const QByteArray deepJson = QByteArray(5000, '[') + QByteArray(5000, ']');
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
        {"cookie garbage", {{"REQUEST_METHOD", "GET"}, {"HTTP_COOKIE", ";;==;\xff\xfe=;CMD=test"}}, {}},
        {"length far beyond body", post("application/json", "{\"CMD\":\"test\"}", "99999999999"), "{\"CMD\":\"test\"}"},
        {"negative length", post("application/json", "{}", "-5"), "{}"},
        {"binary body as json", post("application/json", binary), binary},
        {"binary body as form", post("application/x-www-form-urlencoded", binary), binary},
        {"unclosed multipart", post("multipart/form-data; boundary=b", unclosedMultipart), unclosedMultipart},
        {"json nested thousands deep", post("application/json", deepJson), deepJson},
        {"content type garbage", post(";;;charset=;=;", "x=1"), "x=1"},
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
        EXPECT_EQ(r.exitCode, 0) << h.name;
        EXPECT_TRUE(r.json.contains("info")) << h.name;
        EXPECT_TRUE(r.headerLines.contains("Content-Length: " + QByteArray::number(r.body.size()))) << h.name;
        EXPECT_TRUE(r.logLines().value(r.logLines().size() - 1).contains(QStringLiteral("Окончание. Время работы")))
            << h.name;
        EXPECT_EQ(r.output.count("\"info\""), 1) << h.name;
    }
}

} // namespace
