#include "../support/RecordingAlert.h"

#include "onenote/MInstall.h"
#include "onenote/MOneAppUtils.h"
#include "platform/IProcessList.h"
#include "platform/IShell.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace Cogitra;

void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

// The alert and the shell write into one journal, so the order of the two is seen. The
// command fails: nothing else depends on it.
class JournalShell final : public IShell
{
public:
    explicit JournalShell(QStringList &journal)
        : m_Journal(journal)
    {}
    int run(const QString &commandLine) override
    {
        m_Journal.append("run: " + commandLine);
        return 1;
    }

private:
    QStringList &m_Journal;
};

class FixedProcessList final : public IProcessList
{
public:
    explicit FixedProcessList(QStringList names)
        : m_Names(std::move(names))
    {}
    QStringList processNames() const override { return m_Names; }

private:
    const QStringList m_Names;
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
        {{"cogitra", "--verbose", "install"}, {}, {kEnglishCommand}},
        {{"install"}, {"OneNote"}, {}}, // the program's path is not an argument
        {{}, {"OneNote"}, {}},
        {{"cogitra", "Install"}, {"OneNote"}, {}},
        {{"cogitra", "--install"}, {}, {}},
        {{"cogitra", "-install"}, {}, {}},
        {{"cogitra", "install "}, {}, {}},
        {{"cogitra", "uninstall"}, {}, {}},
    };
    for (const auto &[arguments, processes, events] : cases) {
        QStringList journal;
        JournalShell shell{journal};
        Cogitra::Test::InstalledAlert alert;
        alert.onShow = [&] {
            journal.append("alert: " + alert.messages.last());
        };
        InstallShortcut(arguments, "en-GB", FixedProcessList(processes), shell);
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
