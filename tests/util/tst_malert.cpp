#include "platform/IAlert.h"
#include "util/MAlert.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace Cogitra;

namespace {

class RecordingAlert : public IAlert
{
public:
    void showMessage(const QString &text) override { shown.append(text); }
    QStringList shown;
};

} // namespace

TEST(ShowMessage, GoesToTheInstalledAlertOnly)
{
    RecordingAlert first;
    RecordingAlert second;
    SetAlert(&first);
    ShowMessage(QString::fromUtf8("Page \xE5\xAF\xBC not found"));
    ShowMessage(QString());
    SetAlert(&second);
    ShowMessage("two");
    SetAlert(nullptr);

    testing::internal::CaptureStderr();
    ShowMessage("to the console");
    const std::string console = testing::internal::GetCapturedStderr();

    EXPECT_EQ(first.shown, (QStringList{QString::fromUtf8("Page \xE5\xAF\xBC not found"), ""}));
    EXPECT_EQ(second.shown, QStringList{"two"});
    EXPECT_NE(console.find("to the console"), std::string::npos)
        << "with no alert installed the text is not lost";
}
