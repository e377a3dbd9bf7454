#include <QCoreApplication>

#include <gtest/gtest.h>

// The folder query, timers and main-thread hand-overs need an event loop.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
