#include "util/MAssert.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace {

QStringList g_Logged;

void Record(QtMsgType, const QMessageLogContext &, const QString &message)
{
    g_Logged.append(message);
}

int Guarded(int value)
{
    COGITRA_ASSERT(value >= 0, return -1);
    return value * 2;
}

} // namespace

TEST(SoftAssert, LogsAndRunsTheFallbackOnlyWhenTheConditionFails)
{
    g_Logged.clear();
    const QtMessageHandler previous = qInstallMessageHandler(Record);
    const int good = Guarded(4);
    const int bad = Guarded(-3);
    qInstallMessageHandler(previous);

    EXPECT_EQ(good, 8);
    EXPECT_EQ(bad, -1);
    ASSERT_EQ(g_Logged.size(), 1);
    EXPECT_TRUE(g_Logged.at(0).contains("value >= 0")) << g_Logged.at(0).toStdString();
    EXPECT_TRUE(g_Logged.at(0).contains("tst_massert.cpp"));
}
