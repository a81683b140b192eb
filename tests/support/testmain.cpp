#include <QCoreApplication>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <ctime>

int main(int argc, char** argv)
{
#ifdef ORVELA_TEST_TIME_ZONE
    // The suites that read readings run in a zone with summer time, and so does the program
    // they start: answers must not depend on the machine's zone.
    ::setenv("TZ", ORVELA_TEST_TIME_ZONE, 1);
    ::tzset();
#endif
    // Tests write to pipes whose reader has gone; that must fail, not end the test program.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
