#include "GuiService.h"
#include "GuiTestSupport.h"

#include "windows/MWinPagePicker.h"

#include "service/NotebookService.h"
#include "util/MGlobals.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>

#include <memory>

using namespace Cogitra;
using namespace Cogitra::Test;

namespace {

// Every page the tree shows, as "notebook/group.../section/title", in the tree's order.
void CollectPages(const QAbstractItemModel *model, const QModelIndex &parent, const QString &path,
                  QStringList &pages)
{
    for (int row = 0; row < model->rowCount(parent); ++row) {
        const QModelIndex index = model->index(row, 0, parent);
        const QString here
            = path.isEmpty() ? index.data().toString() : path + u'/' + index.data().toString();
        // The seeded sections all hold pages: a leaf below a notebook is a page.
        if (model->rowCount(index) == 0 && !path.isEmpty())
            pages << here;
        CollectPages(model, index, here, pages);
    }
}

} // namespace

// The page picker against the local notebook service: section groups three deep, a section
// that comes in more than one page list, two notebooks with sections of one name, a page made
// after its section's list was cached.
class TestPagePicker : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        ResetGlobalsForTesting();
        SetLanguage(QStringLiteral("en"));
        m_DataDir = std::make_unique<QTemporaryDir>();
        m_Env = std::make_unique<GuiService>();
        m_Service = m_Env->service();
        QVERIFY(m_Service);
        InitGlobals(m_DataDir->path());

        Service::NotebookService &s = *m_Service;
        m_Cid = s.createAccount("picker@example.com", "secret", "Picker").value().cid;
        const auto work = s.createNotebook(m_Cid, "Work").value();
        m_WorkInbox = s.createSection(work.id, {}, "Inbox").value().id;
        (void)s.createPage(m_WorkInbox, "Plan").value();
        QString group;
        for (const char *name : {"Clients", "Acme", "2026"})
            group = s.createSectionGroup(work.id, group, name).value().id;
        const auto contracts = s.createSection(work.id, group, "Contracts").value();
        m_Renewal = s.createPage(contracts.id, "Renewal terms").value().id;
        const auto home = s.createNotebook(m_Cid, "Home").value();
        (void)s.createPage(s.createSection(home.id, {}, "Inbox").value().id, "Groceries").value();
        const auto recipes = s.createSection(home.id, {}, "Recipes").value();
        for (int i = 1; i <= 130; ++i)
            (void)s.createPage(recipes.id, QStringLiteral("Recipe %1").arg(i)).value();
    }

    void cleanup() { m_Env.reset(); }

    // Signed in only by a code yet: the picker's read exchanges it. Then the filter narrows
    // the tree by title and by section, and the keys alone choose and open a page.
    void listsEveryPageAndChoosesByKeyboard()
    {
        g_AuthCode.set(m_Service->mintAuthorizationCode(m_Cid));
        MWinPagePicker picker;
        picker.show();
        picker.Load(false);
        QVERIFY(WaitUntil([&] { return !picker.isLoading(); }));
        QVERIFY2(!g_AccessToken.isEmpty(), qPrintable(picker.status()->text()));
        QVERIFY(picker.status()->text().isEmpty());

        const QStringList all = pages(picker);
        QCOMPARE(all.size(), 1 + 1 + 1 + 130);
        QCOMPARE(all.first(), "Work/Inbox/Plan");
        QVERIFY(all.contains("Work/Clients/Acme/2026/Contracts/Renewal terms"));
        // In the service's order: the last changed first.
        QCOMPARE(all.at(3), "Home/Recipes/Recipe 130");
        QCOMPARE(all.last(), "Home/Recipes/Recipe 1");

        // A section's name keeps all its pages, in both notebooks.
        QTest::keyClicks(picker.filterField(), "INBOX");
        QCOMPARE(pages(picker), (QStringList{"Work/Inbox/Plan", "Home/Inbox/Groceries"}));

        picker.filterField()->clear();
        QTest::keyClicks(picker.filterField(), "recipe 12");
        QCOMPARE(pages(picker).size(), 11); // 129 down to 120, and 12
        QCOMPARE(picker.page().title, "Recipe 129");
        QTest::keyClick(picker.filterField(), Qt::Key_Down);
        QCOMPARE(picker.page().title, "Recipe 128");

        picker.filterField()->clear();
        QTest::keyClicks(picker.filterField(), "renewal");
        QVERIFY(picker.buttons()->button(QDialogButtonBox::Open)->isEnabled());
        QTest::keyClick(picker.filterField(), Qt::Key_Return);
        QCOMPARE(picker.result(), int(QDialog::Accepted));
        QCOMPARE(picker.page().title, "Renewal terms");
        QCOMPARE(picker.page().accountId, m_Cid);
        QCOMPARE(picker.page().clientId.toUpper(),
                 m_Service->page(m_Renewal).value().clientGuid.toUpper());

        // Nothing left to choose: Open is off, and Enter opens nothing.
        picker.filterField()->setText("no such page");
        QVERIFY(pages(picker).isEmpty());
        QVERIFY(!picker.buttons()->button(QDialogButtonBox::Open)->isEnabled());
    }

    // The lists are cached as finding a page caches them; Refresh reads them anew, and a list
    // that cannot be read says so and leaves the tree that was shown.
    void refreshShowsAPageMadeAfterTheListWasCached()
    {
        signIn();
        {
            MWinPagePicker first;
            first.Load(false);
            QVERIFY(WaitUntil([&] { return !first.isLoading(); }));
        }
        (void)m_Service->createPage(m_WorkInbox, "Fresh idea").value();
        MWinPagePicker picker;
        picker.show();
        picker.Load(false);
        QVERIFY(WaitUntil([&] { return !picker.isLoading(); }));
        QVERIFY(!pages(picker).contains("Work/Inbox/Fresh idea"));

        QTest::mouseClick(picker.refreshButton(), Qt::LeftButton);
        QVERIFY(WaitUntil([&] { return !picker.isLoading(); }));
        QVERIFY(pages(picker).contains("Work/Inbox/Fresh idea"));

        m_Service->setFault("sectionPages", {Service::FaultKind::Status, 500});
        QTest::mouseClick(picker.refreshButton(), Qt::LeftButton);
        QVERIFY(WaitUntil([&] { return !picker.isLoading(); }));
        QCOMPARE(picker.status()->text(), Text("errGetNotebooksSections"));
        QVERIFY(pages(picker).contains("Work/Inbox/Fresh idea"));
    }

private:
    void signIn()
    {
        const auto tokens = m_Service->mintTokens(m_Cid);
        QVERIFY(tokens);
        g_AccessToken.set(tokens->accessToken);
        g_RefreshToken.set(tokens->refreshToken);
        g_UserId.set(m_Cid);
        g_AccountId.set(m_Cid);
    }

    static QStringList pages(const MWinPagePicker &picker)
    {
        QStringList found;
        CollectPages(picker.treeView()->model(), QModelIndex(), QString(), found);
        return found;
    }

    std::unique_ptr<QTemporaryDir> m_DataDir;
    std::unique_ptr<GuiService> m_Env;
    Service::NotebookService *m_Service = nullptr;
    QString m_Cid;
    QString m_WorkInbox;
    QString m_Renewal;
};

COGITRA_GUI_TEST_MAIN(TestPagePicker)
#include "tst_pagepicker.moc"
