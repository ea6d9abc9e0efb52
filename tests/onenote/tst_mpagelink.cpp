#include "onenote/MOLONUtils.h"
#include "onenote/MPageLink.h"
#include "util/MLimits.h"

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

const QString kPrefix = QStringLiteral("onenote:https://");
const QString kLive = kPrefix + "d.docs.live.net/abc/";

} // namespace

// Every captured link form, then hostile ones: what each names, or why it is refused. Every
// sample (named by its kind) must have its row, so a new one cannot slip in unchecked.
TEST(PageLink, EveryFormReadsOrIsRefusedWithItsReason)
{
    const QString web = QStringLiteral("https://onedrive.live.com/redir.aspx?cid=AB&wd=");
    const QString padded = web + "target(S.one|g/T|p/)&x=";
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
        {padded + QString(kMaxLinkLength - padded.size(), u'x'), "", "T", "", "S", "ab", "p"},
        {padded + QString(kMaxLinkLength - padded.size() + 1, u'x'), "longer than any page link"},
        {" \n", "no link given"},
        {"Page: xonenote:https://d.docs.live.net/c/N/S.one#T&page-id={p}\t", "", "T", "N", "S", "c",
         "p"},
        {"OneNote:https://d.docs.live.net/c/N/S.one#T&page-id={p}", "neither"},
        {"onenote:http://d.docs.live.net/c/N/S.one#T&page-id={p}", "names no host"},
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

// The link grammar's edges. The last rows are clipboard texts of a megabyte: each reads by the
// same rules, at once, without reading outside the text.
TEST(OneNoteLinkForms, Read)
{
    // The link, then what it names: title, notebook, section, account and page id.
    const QStringList rows[] = {
        {kLive + "Book/Sec.one#Salt%20%26%20Pepper&section-id={S}&page-id={P-1}&end",
         "Salt & Pepper", "Book", "Sec", "abc", "P-1"},
        {kLive + "Book/Sec.one#100%25%zz&page-id={P}&end", "", "Book", "Sec", "abc", "P"},
        {kLive + "Book%FF/Sec%C3.one#T%E2%82&page-id={P}&end", "", "", "", "abc", "P"},
        {kLive + "C%2B%2B%20Notes+2/A+B.one#1+1%3D2&page-id={P}", "1+1=2", "C++ Notes+2", "A+B",
         "abc", "P"},
        {kLive + "%d7%9e%D7%A1/%E6%97%A5%e8%AE%B0.one#%F0%9F%98%80%20Smile&page-id={P}&end",
         "😀 Smile", "מס", "日记", "abc", "P"},
        {kLive + "Book/Sec.one#T&page-id={}&x=1&end", "T", "Book", "Sec", "abc", "{}"},
        {kLive + "Book/Sec.one#T&page-id=1234", "T", "Book", "Sec", "abc", ""},
        {kLive + "My.oneBooks/Book/Sec.one#T&page-id={P}", "T", "abc", "My", "abc", "P"},
        // Only the consumer host in its exact spelling keeps the account in the first segment.
        {kPrefix + "D.Docs.Live.Net/abc/Documents/Book/Sec.one#T&page-id={P}", "T", "Book", "Sec",
         "Documents", "P"},
        {kPrefix + "d.docs.live.net./abc/Documents/Book/Sec.one#T&page-id={P}", "T", "Book", "Sec",
         "Documents", "P"},
        {kPrefix + "host.example/sites/Team%20A/Book%20One/Sec%20Two.one#T&page-id={P}", "T",
         "Book One", "Sec Two", "Team%20A", "P"},
        {kPrefix + "d.docs.live.net/cid", "", "", "", "cid", ""},
        // The links the service reports for notebooks, as captured: the account check reads them.
        {kPrefix + "d.docs.live.net/1a2b3c4d5e6f7081/Documents/TestNotebook 2", "", "", "",
         "1a2b3c4d5e6f7081", ""},
        {kPrefix
             + "contoso-my.sharepoint.com/personal/admin_m365x841051_onmicrosoft_com/"
               "Documents/Notebooks/My%20Private%20notebook",
         "", "", "", "admin_m365x841051_onmicrosoft_com", ""},
        {kPrefix + "host.example/teams", "", "", "", "", ""},
        {kPrefix + "d.docs.live.net/Sec.one#T&page-id={P}", "T", "d.docs.live.net", "Sec",
         "Sec.one#T&page-id={P}", "P"},
        {kPrefix + QString(kMiB, u'/') + "Sec.one#T&page-id={P}&", "T", "", "Sec", "", "P"},
        {kPrefix + "h/a/b/N%2/S%.one#" + QString(kMiB, u'%') + "&page-id=x&", "", "", "", "b", "x"},
        {kPrefix + "h/a/b/" + QStringLiteral(".one").repeated(kMiB / 4) + "#T&page-id=x&", "T", "b",
         "", "b", "x"},
        {kPrefix + "h/a/b/N/S.one#T&section-id={s}&page-id={" + QString(kMiB, u'A'), "T", "N", "S",
         "b", ""},
        {QString(kMiB, u'x'), "", "", "", "", ""},
    };
    for (const QStringList &row : rows) {
        const QString &link = row.first();
        EXPECT_EQ(
            (QStringList{PageTitleFromLink(link), NotebookNameFromLink(link),
                         SectionNameFromLink(link), AccountIdFromLink(link), PageIdFromLink(link)}),
            row.mid(1))
            << link.left(100).toStdString();
    }
}

TEST(NormalizeOneNoteLink, DropsTextBeforeAndBlanksAround)
{
    const QString link = kPrefix + "d.docs.live.net/abc/Book/Sec.one#T&page-id={P}&end";
    const QString blanks = QStringLiteral(" \t").repeated(kMiB / 2);
    const QString prefixes = kPrefix.repeated(kMiB / kPrefix.size());
    // Every kind of blank goes, but line breaks stay; the first prefix wins.
    const QList<QPair<QString, QString>> cases = {
        {"see onenote:https:// \t" + link.mid(16), link},
        {link + QChar(0x00A0) + QChar(0x3000), link},
        {link + "\r\n ", link + "\r\n"},
        {"a onenote:https://x onenote:https://y", "onenote:https://x onenote:https://y"},
        {"words " + blanks + link + blanks, link},
        {prefixes, prefixes},
        {QString(kMiB, u'x'), kPrefix},
    };
    for (const auto &[clip, normal] : cases)
        EXPECT_EQ(NormalizeOneNoteLink(clip), normal) << clip.left(60).toStdString();
}

TEST(PercentDecode, BytesOrNothing)
{
    const QList<QPair<QString, QString>> cases = {
        // A leading byte-order mark is text like any other.
        {"%EF%BB%BFx", QString(QChar(0xFEFF)) + "x"},
        {QString(QChar(0xD800)), ""},
        {QStringLiteral("%41").repeated(kMiB), QString(kMiB, u'A')},
        {QStringLiteral("%C3").repeated(kMiB), ""},
        {QString(kMiB, u'%'), ""},
    };
    for (const auto &[escaped, text] : cases)
        EXPECT_EQ(PercentDecode(escaped), text) << escaped.left(40).toStdString();
}
