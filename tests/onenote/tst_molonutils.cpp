#include "onenote/MOLONUtils.h"

#include <QList>

#include <gtest/gtest.h>

using namespace Cogitra;

const QString kPrefix = QStringLiteral("onenote:https://");
const QString kLive = kPrefix + "d.docs.live.net/abc/";
constexpr qsizetype kMiB = 1024 * 1024;

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
        {kLive + "Book/Sec.one#section-id={S}&page-id={P}&end", "", "Book", "Sec", "abc", "P"},
        {kLive + "Book/Sec.one#Title", "", "Book", "Sec", "abc", ""},
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
        {"Link to the page: " + link + " \t ", link},
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
    EXPECT_TRUE(IsOneNoteLink("Link to the page: " + link));
    EXPECT_TRUE(IsOneNoteLink("xonenote:https://"));
    for (const QString &other : QStringList{QString(), link.mid(8), "OneNote:" + link.mid(8),
                                            "onenote:http://d.docs.live.net/abc"})
        EXPECT_FALSE(IsOneNoteLink(other)) << other.toStdString();
}

TEST(PercentDecode, BytesOrNothing)
{
    const QList<QPair<QString, QString>> cases = {
        {"%41%62c", "Abc"},
        {"a%4", ""},
        {"%g1", ""},
        {"%00", QString(QChar(0))},
        // A leading byte-order mark is text like any other.
        {"%EF%BB%BFx", QString(QChar(0xFEFF)) + "x"},
        {"%C0%80", ""},    // an overlong form is not UTF-8
        {"%ED%A0%80", ""}, // nor is an encoded surrogate
        {QString(QChar(0xD800)), ""},
        {QStringLiteral("%41").repeated(kMiB), QString(kMiB, u'A')},
        {QStringLiteral("%C3").repeated(kMiB), ""},
        {QString(kMiB, u'%'), ""},
    };
    for (const auto &[escaped, text] : cases)
        EXPECT_EQ(PercentDecode(escaped), text) << escaped.left(40).toStdString();
}
