#include "../support/RecordingAlert.h"

#include "onenote/MInstall.h"
#include "onenote/MOneAppUtils.h"
#include "platform/IProcessList.h"
#include "platform/IShell.h"

#include <gtest/gtest.h>

using namespace Cogitra;

void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

// The alert and the shell write into one journal, so the order of the two is seen.
struct Journal
{
    QStringList events;
};

class JournalShell final : public IShell
{
public:
    explicit JournalShell(Journal &journal, int status = 0)
        : m_Journal(journal)
        , m_Status(status)
    {}
    int run(const QString &commandLine) override
    {
        m_Journal.events.append("run: " + commandLine);
        return m_Status;
    }

private:
    Journal &m_Journal;
    const int m_Status;
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

class Installer : public testing::Test
{
protected:
    void SetUp() override
    {
        alert.onShow = [this] {
            journal.events.append("alert: " + alert.messages.last());
        };
    }

    void install(const QStringList &arguments, const QStringList &processes = {},
                 const QString &language = "en-GB")
    {
        InstallShortcut(arguments, language, FixedProcessList(processes), shell);
    }

    Journal journal;
    Cogitra::Test::InstalledAlert alert;
    JournalShell shell{journal, 1};
};

} // namespace

TEST_F(Installer, AddsTheOneShortcutEntry)
{
    install({"/Applications/Cogitra.app/Contents/MacOS/Cogitra", "install"});
    EXPECT_EQ(journal.events, QStringList{kEnglishCommand});
}

TEST_F(Installer, WarnsFirstWhenOneNoteRuns)
{
    install({"cogitra", "-psn_0_1234", "install"}, {"Finder", "OneNote", "Dock"});
    EXPECT_EQ(journal.events, (QStringList{kRunningAlert, kEnglishCommand}));
}

TEST_F(Installer, OnlyTheExactArgumentAfterTheProgramTriggersIt)
{
    for (const QStringList &arguments :
         {QStringList{"install"}, QStringList{}, QStringList{"cogitra", "Install"},
          QStringList{"cogitra", "--install"}, QStringList{"cogitra", "-install"},
          QStringList{"cogitra", "install "}, QStringList{"cogitra", "uninstall"}}) {
        install(arguments, {"OneNote"});
    }
    EXPECT_TRUE(journal.events.isEmpty()) << journal.events.join('\n').toStdString();
    EXPECT_TRUE(InstallRequested({"cogitra", "--verbose", "install"}));
    EXPECT_FALSE(InstallRequested({"install"})) << "the program path is not an argument";
}

TEST(OneNoteRunning, ExactNameOnly)
{
    EXPECT_TRUE(IsOneNoteRunning(FixedProcessList({"launchd", "OneNote"})));
    EXPECT_FALSE(IsOneNoteRunning(FixedProcessList({"onenote", "Microsoft OneNote", "OneNote "})));
    EXPECT_FALSE(IsOneNoteRunning(FixedProcessList({})));
}

TEST(ShortcutCommand, IsTheExactDefaultsLine)
{
    EXPECT_EQ(ShortcutCommand(QString::fromUtf8("Link zu Seite kopieren")),
              "/usr/bin/defaults write \"com.microsoft.onenote.mac\" NSUserKeyEquivalents "
              "-dict-add \"Link zu Seite kopieren\" \"@^p\"");
}

// OneNote names its menu item after the first preferred language; the shortcut only
// works with the exact title.
TEST(MenuTitles, ForTheFirstPreferredLanguage)
{
    const std::pair<const char *, const char *> titles[] = {
        {"da-DK", "Kopiér link for side"},
        {"de", "Link zu Seite kopieren"},
        {"de-AT", "Link zu Seite kopieren"},
        {"es-419", "Copiar vínculo a la página"},
        {"fr-CA", "Copier le lien vers la page"},
        {"it", "Copia collegamento della pagina"},
        {"nb", "Kopier kobling til side"},
        {"nb-NO", "Kopier kobling til side"},
        {"no-NO", "Copy Link to Page"},
        {"nn-NO", "Copy Link to Page"},
        {"nl-BE", "Koppeling naar pagina kopiëren"},
        {"pt-PT", "Copiar Link para Página"},
        {"pt-BR", "Copy Link to Page"},
        {"pt", "Copy Link to Page"},
        {"sv-SE", "Kopiera länk till sida"},
        {"ru-RU", "Копировать ссылку на страницу"},
        {"ja-JP", "ページへのリンクをコピー"},
        {"ko-KR", "페이지에 대한 링크 복사"},
        {"zh-Hans-CN", "复制指向页面的链接"},
        {"zh-Hant-TW", "複製頁面連結"},
        {"zh-CN", "Copy Link to Page"},
        {"zh-TW", "Copy Link to Page"},
        {"en-US", "Copy Link to Page"},
        {"en-GB", "Copy Link to Page"},
        {"DE-de", "Copy Link to Page"},
        {"fi-FI", "Copy Link to Page"},
        {"", "Copy Link to Page"},
    };
    for (const auto &[language, title] : titles) {
        SCOPED_TRACE(language);
        EXPECT_EQ(CopyLinkMenuTitle(QString::fromUtf8(language)), QString::fromUtf8(title));
    }
}
