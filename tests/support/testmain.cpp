#include <QCoreApplication>

#include <gtest/gtest.h>

#include <csignal>

int main(int argc, char** argv)
{
    // Tests write to pipes whose reader has gone; that must fail, not end the test program.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
