#include "onenote/MInstall.h"
#include "onenote/MOneAppUtils.h"
#include "platform/IAlert.h"
#include "platform/IProcessList.h"
#include "platform/IShell.h"
#include "util/MAlert.h"

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

class JournalAlert final : public IAlert
{
public:
    explicit JournalAlert(Journal &journal)
        : m_Journal(journal)
    {}
    void showMessage(const QString &text) override { m_Journal.events.append("alert: " + text); }

private:
    Journal &m_Journal;
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
    void SetUp() override { SetAlert(&alert); }
    void TearDown() override { SetAlert(nullptr); }

    void install(const QStringList &arguments, const QStringList &processes = {},
                 const QString &language = "en-GB")
    {
        InstallShortcut(arguments, language, FixedProcessList(processes), shell);
    }

    Journal journal;
    JournalAlert alert{journal};
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

struct LanguageCase
{
    const char *language;
    const char *title;
};

void PrintTo(const LanguageCase &languageCase, std::ostream *os)
{
    *os << languageCase.language;
}

class MenuTitles : public testing::TestWithParam<LanguageCase>
{
};

TEST_P(MenuTitles, ForTheFirstPreferredLanguage)
{
    EXPECT_EQ(CopyLinkMenuTitle(QString::fromUtf8(GetParam().language)),
              QString::fromUtf8(GetParam().title));
}

INSTANTIATE_TEST_SUITE_P(
    Languages, MenuTitles,
    testing::Values(
        LanguageCase{"da-DK", "Kopiér link for side"}, LanguageCase{"de", "Link zu Seite kopieren"},
        LanguageCase{"de-AT", "Link zu Seite kopieren"},
        LanguageCase{"es-419", "Copiar vínculo a la página"},
        LanguageCase{"fr-CA", "Copier le lien vers la page"},
        LanguageCase{"it", "Copia collegamento della pagina"},
        LanguageCase{"nb", "Kopier kobling til side"},
        LanguageCase{"nb-NO", "Kopier kobling til side"},
        LanguageCase{"no-NO", "Copy Link to Page"}, LanguageCase{"nn-NO", "Copy Link to Page"},
        LanguageCase{"nl-BE", "Koppeling naar pagina kopiëren"},
        LanguageCase{"pt-PT", "Copiar Link para Página"},
        LanguageCase{"pt-BR", "Copy Link to Page"}, LanguageCase{"pt", "Copy Link to Page"},
        LanguageCase{"sv-SE", "Kopiera länk till sida"},
        LanguageCase{"ru-RU", "Копировать ссылку на страницу"},
        LanguageCase{"ja-JP", "ページへのリンクをコピー"},
        LanguageCase{"ko-KR", "페이지에 대한 링크 복사"},
        LanguageCase{"zh-Hans-CN", "复制指向页面的链接"},
        LanguageCase{"zh-Hant-TW", "複製頁面連結"}, LanguageCase{"zh-CN", "Copy Link to Page"},
        LanguageCase{"zh-TW", "Copy Link to Page"}, LanguageCase{"en-US", "Copy Link to Page"},
        LanguageCase{"en-GB", "Copy Link to Page"}, LanguageCase{"DE-de", "Copy Link to Page"},
        LanguageCase{"fi-FI", "Copy Link to Page"}, LanguageCase{"", "Copy Link to Page"}));

TEST_F(Installer, WritesTheTitleOfTheUsersLanguage)
{
    install({"cogitra", "install"}, {}, "ja-JP");
    ASSERT_EQ(journal.events.size(), 1);
    EXPECT_TRUE(journal.events.at(0).contains(
        QString::fromUtf8("-dict-add \"ページへのリンクをコピー\" \"@^p\"")));
}
