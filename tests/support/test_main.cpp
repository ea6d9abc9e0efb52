#include <QCoreApplication>

#include <gtest/gtest.h>

// Core tests run with a QCoreApplication so that Qt's event loop, timers and
// QStandardPaths behave as in the programs.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Cogitra"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
