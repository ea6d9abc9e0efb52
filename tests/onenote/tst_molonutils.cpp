#include "onenote/MOLONUtils.h"

#include <QFile>
#include <QMap>

#include <gtest/gtest.h>

using namespace Cogitra;

namespace {

struct Reading
{
    QString title;
    QString notebook;
    QString section;
    QString account;
    QString pageId;
};

// What each link of the captured samples must read as. Rows not in this table fail the
// fixture test, so a new sample cannot slip in unchecked. Links that are not
// "onenote:https://" links (relative links, local files, web links) map to no reading.
const QMap<QString, std::optional<Reading>> &ExpectedSampleReadings()
{
    static const QMap<QString, std::optional<Reading>> table = {
        {"desktop.page.personal",
         Reading{"Problemen MHZ", "TEST", "New Section 1", "0b7d4e2a9c315f68",
                 "C12E883F-0B36-4C51-96CF-D6852A271E59"}},
        {"desktop.page.personal.upper-cid.localized-folder",
         Reading{"Inhaltsverzeichnis", "Kurs-6", "0. Grundlagen", "5A1C3E7B9D0F2468",
                 "CC51E7DE-5DBA-2A43-ABFE-52846D0BBE24"}},
        {"desktop.page.title-with-parens",
         Reading{"(computable) metric space on angles", "Submissions", "ConHyb", "3c5e7a9b1d2f4e60",
                 "339A76CB-9539-4EAC-BF93-B3AD40D7818B"}},
        {"desktop.page.non-ascii-percent-encoded-path",
         Reading{"two-list", QString::fromUtf8("程式語言"), "Vue-Ext", "6e4c2a0f8d1b3957",
                 "C83FE750-DBBB-4C72-B5CC-12CBE62898B9"}},
        {"desktop.paragraph.non-ascii-raw",
         Reading{QString::fromUtf8("1.PWM介绍"), QString::fromUtf8("(RK3568)Linux驱动开发"),
                 QString::fromUtf8("第十八期_PWM"), "7f1e3d5c9b2a4068",
                 "0CFA7217-6E68-408C-83E7-68BEB7913799"}},
        {"desktop.page.relative.base-path", std::nullopt},
        {"desktop.page.relative.base-path.non-ascii-raw", std::nullopt},
        {"desktop.paragraph.relative.base-path", std::nullopt},
        // A work notebook: the account is the second segment after the host, and a section
        // group's folder is what counts as the notebook.
        {"desktop.page.sharepoint",
         Reading{"Durable Task Framework Build Pipeline", "Planning", "Functions Post-GA",
                 "Webjobs", "D0946823-6FB0-44E3-A57F-E252617B69CD"}},
        {"desktop.page.sharepoint.relative", std::nullopt},
        {"desktop.page.local-file", std::nullopt},
        {"desktop.page.unc", std::nullopt},
        {"desktop.page.relative-file.lowercase-guids", std::nullopt},
        {"graph.page.oneNoteClientUrl.2018",
         Reading{"ToDo", "ToDoNotebook", "ToDoSection", "a2624db91264de33",
                 "66fe82e8-596f-44e3-9cf7-d82a92a6158a"}},
        {"graph.notebook.oneNoteClientUrl.2026", Reading{"", "", "", "1a2b3c4d5e6f7081", ""}},
        {"graph.notebook.oneNoteClientUrl.2017", Reading{"", "", "", "752c1aaf7737895c", ""}},
        {"graph.notebook.oneNoteClientUrl.work",
         Reading{"", "", "", "admin_m365x841051_onmicrosoft_com", ""}},
        {"graph.section-or-page.links.sharepoint-site.placeholder", std::nullopt},
        {"graph.page.oneNoteWebUrl.2018", std::nullopt},
        {"graph.page.oneNoteWebUrl.2025", std::nullopt},
        {"graph.notebook.oneNoteWebUrl.2026", std::nullopt},
        {"graph.notebook.oneNoteWebUrl.2017", std::nullopt},
        {"desktop.web-view.personal.new-resid", std::nullopt},
        {"desktop.web-view.personal.old-resid", std::nullopt},
        {"web.redir.personal", std::nullopt},
        {"web.edit.aspx.personal", std::nullopt},
        {"web.sharepoint.doc.aspx", std::nullopt},
        {"web.sharepoint.onenote.aspx", std::nullopt},
        {"web.sharepoint.section-only", std::nullopt},
    };
    return table;
}

struct Sample
{
    QString kind;
    QString link;
};

std::vector<Sample> LoadSamples()
{
    QFile file(QStringLiteral(COGITRA_FIXTURES_DIR "/graph/links/copy-link-samples.tsv"));
    std::vector<Sample> samples;
    if (!file.open(QIODevice::ReadOnly))
        return samples;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines.at(i).startsWith(QLatin1Char('#')))
            continue;
        const QStringList fields = lines.at(i).split(QLatin1Char('\t'));
        if (fields.size() == 3)
            samples.push_back({fields.at(0), fields.at(2)});
    }
    return samples;
}

void ExpectReading(const QString &link, const Reading &expected)
{
    EXPECT_EQ(PageTitleFromLink(link), expected.title);
    EXPECT_EQ(NotebookNameFromLink(link), expected.notebook);
    EXPECT_EQ(SectionNameFromLink(link), expected.section);
    EXPECT_EQ(AccountIdFromLink(link), expected.account);
    EXPECT_EQ(PageIdFromLink(link), expected.pageId);
}

} // namespace

TEST(OneNoteLinkSamples, EveryCapturedShapeReadsAsExpected)
{
    const std::vector<Sample> samples = LoadSamples();
    ASSERT_GE(samples.size(), 29u) << "the samples fixture did not load";
    for (const Sample &sample : samples) {
        SCOPED_TRACE(sample.kind.toStdString());
        const auto &table = ExpectedSampleReadings();
        ASSERT_TRUE(table.contains(sample.kind)) << "sample without an expected reading";
        const std::optional<Reading> &expected = table.value(sample.kind);
        EXPECT_EQ(IsOneNoteLink(sample.link), expected.has_value());
        if (!expected)
            continue;
        const QString link = NormalizeOneNoteLink(sample.link);
        EXPECT_EQ(link, sample.link) << "a bare link normalises to itself";
        ExpectReading(link, *expected);
    }
}

const QString kPrefix = QStringLiteral("onenote:https://");
constexpr qsizetype kMiB = 1024 * 1024;

struct LinkCase
{
    const char *name;
    QString link;
    Reading expected;
};

void PrintTo(const LinkCase &linkCase, std::ostream *os)
{
    *os << linkCase.link.left(120).toStdString();
}

class OneNoteLinkForms : public testing::TestWithParam<LinkCase>
{
};

TEST_P(OneNoteLinkForms, Reads)
{
    ExpectReading(GetParam().link, GetParam().expected);
}

// The last rows are clipboard texts of a megabyte: each reads by the same rules, at once,
// without reading outside the text.
INSTANTIATE_TEST_SUITE_P(
    Links, OneNoteLinkForms,
    testing::Values(
        LinkCase{"AmpersandInTitle",
                 "onenote:https://d.docs.live.net/abc/Documents/Book/Sec.one#Salt%20%26%20Pepper"
                 "&section-id={S}&page-id={P-1}&end",
                 {"Salt & Pepper", "Book", "Sec", "abc", "P-1"}},
        LinkCase{"InvalidEscapeInTitle",
                 "onenote:https://d.docs.live.net/abc/Documents/Book/Sec.one#100%25%zz"
                 "&section-id={S}&page-id={P-1}&end",
                 {"", "Book", "Sec", "abc", "P-1"}},
        LinkCase{"TruncatedEscapeInTitle",
                 "onenote:https://d.docs.live.net/abc/Book/Sec.one#Half%2&page-id={P}&end",
                 {"", "Book", "Sec", "abc", "P"}},
        LinkCase{"EscapesThatAreNotUtf8",
                 "onenote:https://d.docs.live.net/abc/Book%FF/Sec%C3.one#T%E2%82"
                 "&page-id={P}&end",
                 {"", "", "", "abc", "P"}},
        LinkCase{
            "PlusStaysPlus",
            "onenote:https://d.docs.live.net/abc/C%2B%2B%20Notes+2/A+B.one#1+1%3D2&page-id={P}",
            {"1+1=2", "C++ Notes+2", "A+B", "abc", "P"}},
        LinkCase{"NonAsciiEscapedLowerAndUpperHex",
                 QString::fromUtf8("onenote:https://d.docs.live.net/abc/%d7%9e%D7%A1/"
                                   "%E6%97%A5%e8%AE%B0.one#%F0%9F%98%80%20Smile&page-id={P}&end"),
                 {QString::fromUtf8("😀 Smile"), QString::fromUtf8("מס"), QString::fromUtf8("日记"),
                  "abc", "P"}},
        LinkCase{"TitleOnlyIdsMissing",
                 "onenote:https://d.docs.live.net/abc/Documents/Book/Sec.one#Alone&end",
                 {"Alone", "Book", "Sec", "abc", ""}},
        LinkCase{"NoTitle",
                 "onenote:https://d.docs.live.net/abc/Book/Sec.one#section-id={S}&page-id={P}&end",
                 {"", "Book", "Sec", "abc", "P"}},
        LinkCase{"TitleWithoutAmpersandAfterIt",
                 "onenote:https://d.docs.live.net/abc/Book/Sec.one#Title",
                 {"", "Book", "Sec", "abc", ""}},
        LinkCase{"EmptyBracesFallBackToSecondForm",
                 "onenote:https://d.docs.live.net/abc/Book/Sec.one#T&page-id={}&x=1&end",
                 {"T", "Book", "Sec", "abc", "{}"}},
        LinkCase{"UnbracedPageIdWithoutAmpersand",
                 "onenote:https://d.docs.live.net/abc/Book/Sec.one#T&page-id=1234",
                 {"T", "Book", "Sec", "abc", ""}},
        LinkCase{"DotOneInsideAFolderName",
                 "onenote:https://d.docs.live.net/abc/My.oneBooks/Book/Sec.one#T&page-id={P}",
                 {"T", "abc", "My", "abc", "P"}},
        LinkCase{"HostInOtherCaseIsAWorkHost",
                 "onenote:https://D.Docs.Live.Net/abc/Documents/Book/Sec.one#T&page-id={P}",
                 {"T", "Book", "Sec", "Documents", "P"}},
        LinkCase{
            "AccountSegmentIsNotDecoded",
            "onenote:https://host.example/sites/Team%20A/Book%20One/Sec%20Two.one#T&page-id={P}",
            {"T", "Book One", "Sec Two", "Team%20A", "P"}},
        LinkCase{"HostOnly", "onenote:https://d.docs.live.net", {"", "", "", "", ""}},
        LinkCase{"ConsumerHostAndOneSegment",
                 "onenote:https://d.docs.live.net/cid",
                 {"", "", "", "cid", ""}},
        LinkCase{
            "WorkHostTooFewSegments", "onenote:https://host.example/teams", {"", "", "", "", ""}},
        LinkCase{"SectionDirectlyUnderHost",
                 "onenote:https://d.docs.live.net/Sec.one#T&page-id={P}",
                 {"T", "d.docs.live.net", "Sec", "Sec.one#T&page-id={P}", "P"}},
        LinkCase{"Empty", "", {"", "", "", "", ""}},
        LinkCase{"MegabyteTitle",
                 kPrefix + "d.docs.live.net/acc/Documents/Nb/Sec.one#"
                     + QStringLiteral("%E6%96%87").repeated(kMiB / 9 + 1)
                     + "&section-id={s}&page-id={P}&end",
                 {QString::fromUtf8("文").repeated(kMiB / 9 + 1), "Nb", "Sec", "acc", "P"}},
        LinkCase{"RunOfSlashes",
                 kPrefix + QString(kMiB, u'/') + "Sec.one#T&page-id={P}&",
                 {"T", "", "Sec", "", "P"}},
        LinkCase{"BrokenEscapes",
                 kPrefix + "h/a/b/N%2/S%.one#" + QString(kMiB, u'%') + "&page-id=x&",
                 {"", "", "", "b", "x"}},
        LinkCase{"RunOfSectionMarkers",
                 kPrefix + "h/a/b/" + QStringLiteral(".one").repeated(kMiB / 4) + "#T&page-id=x&",
                 {"T", "b", "", "b", "x"}},
        LinkCase{"BraceNeverCloses",
                 kPrefix + "h/a/b/N/S.one#T&section-id={s}&page-id={" + QString(kMiB, u'A'),
                 {"T", "N", "S", "b", ""}},
        LinkCase{"RunOfFragments",
                 kPrefix + "h/a/b/N/S.one" + QStringLiteral("#&").repeated(kMiB / 2)
                     + "page-id={P}",
                 {"", "N", "S", "b", "P"}},
        LinkCase{"LoneSurrogatesInTitle",
                 kPrefix + "h/a/b/N/S.one#" + QString(kMiB, QChar(0xD800)) + "&page-id={P}&",
                 {"", "N", "S", "b", "P"}},
        LinkCase{"NoPrefixAtAll", QString(kMiB, u'x'), {"", "", "", "", ""}}),
    [](const testing::TestParamInfo<LinkCase> &param) { return std::string(param.param.name); });

TEST(NormalizeOneNoteLink, DropsTextBeforeAndBlanksAround)
{
    const QString link = kPrefix + "d.docs.live.net/abc/Book/Sec.one#T&page-id={P}&end";
    const QString blanks = QStringLiteral(" \t").repeated(kMiB / 2);
    const QString prefixes = kPrefix.repeated(kMiB / kPrefix.size());
    const struct
    {
        const char *why;
        QString clip;
        QString link;
    } cases[] = {
        {"words before", "Link to the page: " + link + " \t ", link},
        {"blanks right after the prefix", "see onenote:https:// \t" + link.mid(16), link},
        {"every kind of blank", link + QChar(0x00A0) + QChar(0x3000), link},
        {"line breaks are kept", link + "\r\n ", link + "\r\n"},
        {"the first prefix wins", "a onenote:https://x onenote:https://y",
         "onenote:https://x onenote:https://y"},
        {"a megabyte of blanks", "words " + blanks + link + blanks, link},
        {"a megabyte of prefixes", prefixes, prefixes},
        {"no prefix", QString(kMiB, u'x'), kPrefix},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(NormalizeOneNoteLink(c.clip), c.link);
    }
    EXPECT_TRUE(IsOneNoteLink("Link to the page: " + link));
    EXPECT_TRUE(IsOneNoteLink("xonenote:https://"));
    for (const QString &other : QStringList{QString(), link.mid(8), "OneNote:" + link.mid(8),
                                            "onenote:http://d.docs.live.net/abc"})
        EXPECT_FALSE(IsOneNoteLink(other)) << other.toStdString();
}

TEST(PercentDecode, BytesOrNothing)
{
    const QList<QPair<QString, QString>> cases = {
        {"", ""},
        {"%41%62c", "Abc"},
        {"%", ""},
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
        {QString(kMiB, u'+'), QString(kMiB, u'+')},
    };
    for (const auto &[escaped, text] : cases)
        EXPECT_EQ(PercentDecode(escaped), text) << escaped.left(40).toStdString();
}

TEST(IsConsumerDocumentHost, ExactComparison)
{
    EXPECT_TRUE(IsConsumerDocumentHost("d.docs.live.net"));
    for (const char *other : {"D.DOCS.LIVE.NET", "d.docs.live.net.", ""})
        EXPECT_FALSE(IsConsumerDocumentHost(other)) << other;
}
