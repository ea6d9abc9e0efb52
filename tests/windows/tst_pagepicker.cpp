#include "GuiService.h"
#include "GuiTestSupport.h"

#include "windows/MWinPagePicker.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>

using namespace Cogitra;
using namespace Cogitra::Test;

namespace {

// Every page the tree shows (a leaf below a notebook), as "notebook/group.../section/title".
QStringList Pages(const MWinPagePicker &picker)
{
    const QAbstractItemModel *model = picker.treeView()->model();
    QStringList pages;
    for (const QModelIndex &index :
         model->match(model->index(0, 0), Qt::DisplayRole, QStringLiteral("*"), -1,
                      Qt::MatchWildcard | Qt::MatchRecursive)) {
        if (model->hasChildren(index) || !index.parent().isValid())
            continue;
        QString path;
        for (QModelIndex at = index; at.isValid(); at = at.parent())
            path.prepend(u'/' + at.data().toString());
        pages << path.mid(1);
    }
    return pages;
}

} // namespace

// The page picker against the local service: groups three deep, a long section, two Inboxes.
class TestPagePicker : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Signed in by a code only: every page listed, filtered, and opened by the keys alone.
    void listsEveryPageAndChoosesByKeyboard()
    {
        SetLanguage(QStringLiteral("en"));
        QTemporaryDir dataDir;
        GuiService env;
        QVERIFY(env.started);
        InitGlobals(dataDir.path());

        Service::NotebookService &s = env.service;
        const QString cid = s.createAccount("picker@example.com", "secret", "Picker").value().cid;
        const auto work = s.createNotebook(cid, "Work").value();
        const QString workInbox = s.createSection(work.id, {}, "Inbox").value().id;
        (void)s.createPage(workInbox, "Plan").value();
        QString group;
        for (const char *name : {"Clients", "Acme", "2026"})
            group = s.createSectionGroup(work.id, group, name).value().id;
        const auto contracts = s.createSection(work.id, group, "Contracts").value();
        const QString renewal = s.createPage(contracts.id, "Renewal terms").value().id;
        const auto home = s.createNotebook(cid, "Home").value();
        (void)s.createPage(s.createSection(home.id, {}, "Inbox").value().id, "Groceries").value();
        const auto recipes = s.createSection(home.id, {}, "Recipes").value();
        for (int i = 1; i <= 130; ++i)
            (void)s.createPage(recipes.id, QStringLiteral("Recipe %1").arg(i)).value();

        g_AuthCode.set(s.mintAuthorizationCode(cid));
        MWinPagePicker picker;
        picker.show();
        picker.Load(false);
        QVERIFY(WaitUntil([&] { return !picker.isLoading(); }));
        QVERIFY2(!g_AccessToken.isEmpty() && picker.status()->text().isEmpty(),
                 qPrintable(picker.status()->text()));

        const QStringList all = Pages(picker);
        QCOMPARE(all.size(), 1 + 1 + 1 + 130);
        QCOMPARE(all.first(), "Work/Inbox/Plan");
        QVERIFY(all.contains("Work/Clients/Acme/2026/Contracts/Renewal terms"));
        // In the service's order: the last changed first.
        QCOMPARE(all.at(3), "Home/Recipes/Recipe 130");
        QCOMPARE(all.last(), "Home/Recipes/Recipe 1");

        // A section's name keeps all its pages, in both notebooks.
        QTest::keyClicks(picker.filterField(), "INBOX");
        QCOMPARE(Pages(picker), (QStringList{"Work/Inbox/Plan", "Home/Inbox/Groceries"}));

        picker.filterField()->clear();
        QTest::keyClicks(picker.filterField(), "recipe 12");
        QCOMPARE(Pages(picker).size(), 11); // 129 down to 120, and 12
        QCOMPARE(picker.page().title, "Recipe 129");
        QTest::keyClick(picker.filterField(), Qt::Key_Down);
        QCOMPARE(picker.page().title, "Recipe 128");

        picker.filterField()->clear();
        QTest::keyClicks(picker.filterField(), "renewal");
        QVERIFY(picker.buttons()->button(QDialogButtonBox::Open)->isEnabled());
        QTest::keyClick(picker.filterField(), Qt::Key_Return);
        QCOMPARE(picker.result(), int(QDialog::Accepted));
        QCOMPARE(picker.page().title, "Renewal terms");
        QCOMPARE(picker.page().accountId, cid);
        QCOMPARE(picker.page().clientId.toUpper(), s.page(renewal).value().clientGuid.toUpper());

        // Nothing left to choose: Open is off, and Enter opens nothing.
        picker.filterField()->setText("no such page");
        QVERIFY(Pages(picker).isEmpty());
        QVERIFY(!picker.buttons()->button(QDialogButtonBox::Open)->isEnabled());

        // The lists stay cached; Refresh reads them anew, and a failed read keeps the tree.
        (void)s.createPage(workInbox, "Fresh idea").value();
        MWinPagePicker again;
        again.show();
        again.Load(false);
        QVERIFY(WaitUntil([&] { return !again.isLoading(); }));
        QVERIFY(!Pages(again).contains("Work/Inbox/Fresh idea"));
        QTest::mouseClick(again.refreshButton(), Qt::LeftButton);
        QVERIFY(WaitUntil([&] { return !again.isLoading(); }));
        QVERIFY(Pages(again).contains("Work/Inbox/Fresh idea"));

        s.setFault("sectionPages", {Service::FaultKind::Status, 500});
        QTest::mouseClick(again.refreshButton(), Qt::LeftButton);
        QVERIFY(WaitUntil([&] { return !again.isLoading(); }));
        QCOMPARE(again.status()->text(), Text("errGetNotebooksSections"));
        QVERIFY(Pages(again).contains("Work/Inbox/Fresh idea"));
    }
};

COGITRA_GUI_TEST_MAIN(TestPagePicker)
#include "tst_pagepicker.moc"
