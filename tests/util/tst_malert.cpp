#include "RecordingAlert.h"

#include <gtest/gtest.h>

using namespace Cogitra;

TEST(ShowMessage, GoesToTheInstalledAlertOnly)
{
    Cogitra::Test::RecordingAlert first;
    Cogitra::Test::RecordingAlert second;
    SetAlert(&first);
    ShowMessage(QString::fromUtf8("Page \xE5\xAF\xBC not found"));
    SetAlert(&second);
    ShowMessage("two");
    SetAlert(nullptr);

    testing::internal::CaptureStderr();
    ShowMessage("to the console");
    const std::string console = testing::internal::GetCapturedStderr();

    EXPECT_EQ(first.messages, QStringList{QString::fromUtf8("Page \xE5\xAF\xBC not found")});
    EXPECT_EQ(second.messages, QStringList{"two"});
    EXPECT_NE(console.find("to the console"), std::string::npos)
        << "with no alert installed the text is not lost";
}
