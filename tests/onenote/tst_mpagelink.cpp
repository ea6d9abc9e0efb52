#include "onenote/MPageLink.h"

#include <QFile>
#include <QMap>

#include <gtest/gtest.h>

using namespace Cogitra;

namespace {

// The captured link samples by kind.
QMap<QString, QString> LoadSamples()
{
    QFile file(QStringLiteral(COGITRA_FIXTURES_DIR "/graph/links/copy-link-samples.tsv"));
    QMap<QString, QString> samples;
    if (!file.open(QIODevice::ReadOnly))
        return samples;
    for (const QString &line : QString::fromUtf8(file.readAll()).split(u'\n').mid(1)) {
        const QStringList fields = line.split(u'\t');
        if (fields.size() == 3 && !line.startsWith(u'#'))
            samples.insert(fields.at(0), fields.at(2));
    }
    return samples;
}

} // namespace

// Every captured link form, then hostile ones: what each names, or why it is refused. A row
// names a sample by its kind or gives the link itself; every sample must have its row, so a
// new one cannot slip in unchecked.
TEST(PageLink, EveryFormReadsOrIsRefusedWithItsReason)
{
    const QString web = QStringLiteral("https://onedrive.live.com/redir.aspx?cid=AB&wd=");
    // The link or a sample's kind, a part of the refusal (empty when the link is read), then
    // title, notebook, section, account and page client id.
    const QStringList rows[] = {
        {"desktop.page.personal", "", "Problemen MHZ", "TEST", "New Section 1", "0b7d4e2a9c315f68",
         "C12E883F-0B36-4C51-96CF-D6852A271E59"},
        {"desktop.page.personal.upper-cid.localized-folder", "", "Inhaltsverzeichnis", "Kurs-6",
         "0. Grundlagen", "5A1C3E7B9D0F2468", "CC51E7DE-5DBA-2A43-ABFE-52846D0BBE24"},
        {"desktop.page.title-with-parens", "", "(computable) metric space on angles", "Submissions",
         "ConHyb", "3c5e7a9b1d2f4e60", "339A76CB-9539-4EAC-BF93-B3AD40D7818B"},
        {"desktop.page.non-ascii-percent-encoded-path", "", "two-list", "程式語言", "Vue-Ext",
         "6e4c2a0f8d1b3957", "C83FE750-DBBB-4C72-B5CC-12CBE62898B9"},
        {"desktop.paragraph.non-ascii-raw", "", "1.PWM介绍", "(RK3568)Linux驱动开发",
         "第十八期_PWM", "7f1e3d5c9b2a4068", "0CFA7217-6E68-408C-83E7-68BEB7913799"},
        {"desktop.page.relative.base-path", "", "Opkuis SQL MHZ", "Persoonlijk (web)", "TODO's",
         "0b7d4e2a9c315f68", "DBCC88BE-592E-480F-84CE-8B80B4E747B5"},
        {"desktop.page.relative.base-path.non-ascii-raw", "",
         "Activity的LaunchMode（启动模式）和其的应用场景", "Android", "Activity",
         "2d4f6b8a0c1e3957", "C39DF469-386C-1841-8A7A-0880A3D75E06"},
        {"desktop.paragraph.relative.base-path", "", "02 gcc概述", "嵌入式C语言", "嵌入式C语言",
         "7f1e3d5c9b2a4068", "F20956CC-824F-47BF-B415-2AC1FC61B17E"},
        // A section group's folder counts as the notebook; location finds the notebook.
        {"desktop.page.sharepoint", "", "Durable Task Framework Build Pipeline", "Planning",
         "Functions Post-GA", "Webjobs", "D0946823-6FB0-44E3-A57F-E252617B69CD"},
        {"desktop.page.sharepoint.relative", "", "5. Set up Azure Notebooks ", "IoTE2E",
         "Onboarding", "IoTE2E", "65B223B7-1603-47FB-B2CD-CBA105C37267"},
        {"graph.page.oneNoteClientUrl.2018", "", "ToDo", "ToDoNotebook", "ToDoSection",
         "a2624db91264de33", "66fe82e8-596f-44e3-9cf7-d82a92a6158a"},
        // Web links: the account in lower case, as the desktop links of the same notebooks
        // carry it; the notebook only where the form names it.
        {"graph.page.oneNoteWebUrl.2018", "", "ToDo", "", "ToDoSection", "a2624db91264de33",
         "66fe82e8-596f-44e3-9cf7-d82a92a6158a"},
        {"graph.page.oneNoteWebUrl.2025", "", "Claude code Tip", "", "A TEAM", "4e6a8c0b2d1f3957",
         "6af096e8-62d5-4b53-b618-b18137d3b7b6"},
        {"desktop.web-view.personal.new-resid", "", "1.PWM介绍", "", "第十八期_PWM",
         "7f1e3d5c9b2a4068", "0CFA7217-6E68-408C-83E7-68BEB7913799"},
        {"desktop.web-view.personal.old-resid", "", "two-list", "", "Vue-Ext", "6e4c2a0f8d1b3957",
         "C83FE750-DBBB-4C72-B5CC-12CBE62898B9"},
        {"web.redir.personal", "", "Dailys", "", "Notas Gerais", "3b5d7f9a1c2e4068",
         "f01429ca-05b5-441d-a0f8-8e1593b1e214"},
        {"web.edit.aspx.personal", "", "我们如何建房子", "RichMan4L", "设计", "9a8b7c6d5e4f3021",
         "1A21558A-DE44-409F-9F49-9DDC048D6661"},
        {"web.sharepoint.doc.aspx", "", "Region Rollout Plan", "", "Region Buildout Status",
         "OpsInsights", "e34a7bd6-2ac4-49f6-a794-c76d1a8bbe3f"},
        {"web.sharepoint.onenote.aspx", "", "Durable Task Framework Build Pipeline",
         "Webjobs Notebook", "Functions Post-GA", "Webjobs",
         "D0946823-6FB0-44E3-A57F-E252617B69CD"},
        {"desktop.page.local-file", "not online"},
        {"desktop.page.unc", "not online"},
        {"desktop.page.relative-file.lowercase-guids", "names no host"},
        {"graph.notebook.oneNoteClientUrl.2026", "names a notebook, not a page"},
        {"graph.notebook.oneNoteClientUrl.2017", "names a notebook, not a page"},
        {"graph.notebook.oneNoteClientUrl.work", "names a notebook, not a page"},
        {"graph.section-or-page.links.sharepoint-site.placeholder", "no \"wd=target"},
        {"graph.notebook.oneNoteWebUrl.2026", "no \"wd=target"},
        {"graph.notebook.oneNoteWebUrl.2017", "no \"wd=target"},
        {"web.sharepoint.section-only", "names a section, not a page"},
        // A title may hold the target's own separators.
        {web + "target%28G%2FS.one%7Cg%2FA%2FB%7CC%7Cp%2F%29", "", "A/B|C", "", "S", "ab", "p"},
        {web + "target(S.one|g/T%ZZ|p/)", "not valid percent-encoded"},
        {web + "target(S.one|g/T%C3|p/)", "not valid percent-encoded"},
        {web + "target(S.one|g/T|/)", "names a section, not a page"},
        {web + "target(S.one|g/|p/)", "no page title"},
        {web + "target(S.one|g/T|p/", "is not \"target(...)\""},
        {web + "target(.one|g/T|p/)", "names a section, not a page"},
        {"https://example.org/x?wd=target(S.one|g/T|p/)", "names no account"},
        {web + "target(S.one|g/T|p/)&x=" + QString(64 * 1024, u'x'), "longer than any page link"},
        {" \n", "no link given"},
        {"http://onedrive.live.com/redir.aspx?wd=target(S.one|g/T|p/)", "neither"},
        {"onenote:#T&page-id={P}&end", "names no \"base-path\""},
        {"onenote:#T&page-id={P}&end&base-path=C:\\N\\S.one", "not online"},
        {"onenote:https://d.docs.live.net/c/N/S.one#section-id={s}&page-id={p}&end",
         "no page title"},
        {"onenote:https://d.docs.live.net/c/N/S.one#T&section-id={s}&end", "no page id"},
    };
    const QMap<QString, QString> samples = LoadSamples();
    ASSERT_GE(samples.size(), 29) << "the samples fixture did not load";
    QStringList unchecked = samples.keys();
    for (const QStringList &row : rows) {
        unchecked.removeAll(row.at(0));
        const QString link = samples.value(row.at(0), row.at(0));
        SCOPED_TRACE(link.left(120).toStdString());
        OneNotePageInfo page;
        const QString refusal = ReadAnyPageLink(link, page);
        if (!row.at(1).isEmpty()) {
            EXPECT_TRUE(refusal.contains(row.at(1))) << refusal.toStdString();
            EXPECT_EQ(page, OneNotePageInfo());
            continue;
        }
        ASSERT_EQ(refusal, QString());
        EXPECT_EQ(QStringList({page.title, page.notebookName, page.sectionName, page.accountId,
                               page.clientId}),
                  row.mid(2));
        // Only a desktop link is kept whole: the locator reads section groups' folders in it.
        EXPECT_EQ(page.link.startsWith(u"onenote:https://"), !link.startsWith(u"https://"));
    }
    EXPECT_EQ(unchecked, QStringList());
}
