#include "../support/RecordingAlert.h"

#include "onenote/MInstall.h"
#include "onenote/MOneAppUtils.h"
#include "platform/IProcessList.h"
#include "platform/IShell.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace Cogitra;

namespace {

// A system with the given processes whose shell writes each command into the journal the
// alert also writes to, so the order of the two is seen. The command fails: nothing else
// depends on it.
class FakeSystem final : public IShell, public IProcessList
{
public:
    FakeSystem(QStringList &journal, QStringList processes)
        : m_Journal(journal)
        , m_Processes(std::move(processes))
    {}
    int run(const QString &commandLine) override
    {
        m_Journal.append("run: " + commandLine);
        return 1;
    }
    QStringList processNames() const override { return m_Processes; }

private:
    QStringList &m_Journal;
    const QStringList m_Processes;
};

const QString kRunningAlert = QStringLiteral(
    "alert: Found the OneNote app is running. Please restart OneNote after the installation "
    "is complete.");
const QString kEnglishCommand = QStringLiteral(
    "run: /usr/bin/defaults write \"com.microsoft.onenote.mac\" NSUserKeyEquivalents -dict-add "
    "\"Copy Link to Page\" \"@^p\"");

} // namespace

// Only the exact argument after the program installs; a running OneNote is warned about
// first, by its exact process name.
TEST(Installer, AddsTheShortcutEntryWhenAsked)
{
    const QStringList warned{kRunningAlert, kEnglishCommand};
    const std::tuple<QStringList, QStringList, QStringList> cases[] = {
        {{"/Applications/Cogitra.app/Contents/MacOS/Cogitra", "install"}, {}, {kEnglishCommand}},
        {{"cogitra", "-psn_0_1234", "install"}, {"Finder", "OneNote", "Dock"}, warned},
        {{"cogitra", "install"}, {"onenote", "Microsoft OneNote", "OneNote "}, {kEnglishCommand}},
        {{"install"}, {"OneNote"}, {}}, // the program's path is not an argument
        {{}, {"OneNote"}, {}},
        {{"cogitra", "Install"}, {"OneNote"}, {}},
        {{"cogitra", "--install"}, {}, {}},
        {{"cogitra", "install "}, {}, {}},
    };
    for (const auto &[arguments, processes, events] : cases) {
        QStringList journal;
        FakeSystem system{journal, processes};
        Cogitra::Test::InstalledAlert alert;
        alert.onShow = [&] {
            journal.append("alert: " + alert.messages.last());
        };
        InstallShortcut(arguments, "en-GB", system, system);
        EXPECT_EQ(journal, events) << arguments.join(' ').toStdString();
    }
}

// OneNote names its menu item after the first preferred language, by its language and, for
// Portuguese and Chinese, its region or script; the shortcut only works with the exact title.
TEST(MenuTitles, ForTheFirstPreferredLanguage)
{
    const std::pair<const char *, const char *> titles[] = {
        {"de-AT", "Link zu Seite kopieren"}, {"nb-NO", "Kopier kobling til side"},
        {"no-NO", "Copy Link to Page"},      {"pt-PT", "Copiar Link para Página"},
        {"pt-BR", "Copy Link to Page"},      {"zh-Hans-CN", "复制指向页面的链接"},
        {"zh-Hant-TW", "複製頁面連結"},      {"zh-CN", "Copy Link to Page"},
        {"DE-de", "Copy Link to Page"},      {"", "Copy Link to Page"},
    };
    for (const auto &[language, title] : titles)
        EXPECT_EQ(CopyLinkMenuTitle(QString::fromUtf8(language)), QString::fromUtf8(title))
            << language;
}
