// Every result code the program can answer is asserted, with its message, by some test of the
// suite. The codes asserted are collected while the suite runs; this check runs after all of
// them, and only for a whole run (scripts/test.sh without arguments), since a selection of
// tests reaches only some codes.
#include "support/cgirunner.h"

#include <QFile>
#include <QSet>

#include <gtest/gtest.h>

namespace {

// The codes the built commands, the pipeline and the exchange answer. A code that a new
// command answers belongs here, with a test that reaches it. Left out, because no request can
// reach them: 22 (no connection after connecting), 81, 104, 128, 155, 237, 240, 241, 247, 248,
// 249, 250, 252, 253 and 258 (conversions of columns whose types always convert), 259 (a
// missing yearly table holds no readings), 255 (every command is built), 65534 (a handler that forgets its code).
const int kAnsweredCodes[] = {
    // The road of a request: exchange, transport, credentials, command, units.
    1, 2, 20, 25, 130, 134, 135, 136, 137, 139, 140, 157, 208, 212, 218, 233, 271, 272, 273, 274, 284,
    315, 322, 323, 324, 325, 326, 327,
    // Accounts and reference data.
    9, 108, 138, 143, 149, 154, 160, 177, 203, 204, 209, 216, 221, 234, 235, 239, 260, 268, 275, 276,
    // Addresses, objects, abonents and personal accounts.
    59, 60, 76, 110, 112, 116, 117, 120, 122, 124, 126, 127, 131, 132, 144, 145, 146, 156, 161, 190, 217,
    219, 220, 229, 230,
    // Devices and their task queues.
    26, 27, 84, 102, 103, 141, 142, 151, 246, 256, 301, 302, 304, 305, 306, 313,
    // Readings, device lists, period values and reports.
    4, 30, 90, 92, 181, 257, 290, 291,
    // Concentrators and LoRa devices.
    15, 17, 99, 100, 101, 176, 316, 317, 318, 319, 320, 327,
};

TEST(ResultCodeCoverage, EveryAnsweredCodeIsAssertedBySomeTest)
{
    if (qEnvironmentVariable("ORVELA_FULL_RUN") != QStringLiteral("1")) {
        GTEST_SKIP() << "only a whole run of the suite reaches every code";
    }
    QFile file(testing_support::codesSeenFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << "no test noted a code";
    QSet<int> seen;
    for (const QByteArray& line : file.readAll().split('\n')) {
        seen.insert(line.toInt());
    }
    QStringList missing;
    for (const int code : kAnsweredCodes) {
        if (!seen.contains(code)) {
            missing << QString::number(code);
        }
    }
    EXPECT_TRUE(missing.isEmpty()) << "codes no test asserted: " << qPrintable(missing.join(QStringLiteral(", ")));
}

} // namespace
