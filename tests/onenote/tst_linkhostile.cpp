// The link readers on clipboard texts of a megabyte: long titles, runs of separators,
// broken escapes, markers that never close and lone surrogates. Each reads what the rules
// say, at once, without reading outside the text.
#include "onenote/MOLONUtils.h"

#include <QString>

#include <gtest/gtest.h>

#include <functional>

using namespace Cogitra;

void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.left(120).toStdString() << (text.size() > 120 ? "...\"" : "\"");
}

namespace {

constexpr qsizetype kMiB = 1024 * 1024;

struct HostileLink
{
    const char *name;
    std::function<QString()> link;
    QString title;
    QString notebook;
    QString section;
    QString account;
    QString pageId;
};

class LinkHostile : public testing::TestWithParam<HostileLink>
{
};

const QString kPrefix = QStringLiteral("onenote:https://");

} // namespace

TEST_P(LinkHostile, ReadsByTheRules)
{
    const QString link = GetParam().link();
    ASSERT_GE(link.size(), kMiB);
    EXPECT_EQ(PageTitleFromLink(link), GetParam().title);
    EXPECT_EQ(NotebookNameFromLink(link), GetParam().notebook);
    EXPECT_EQ(SectionNameFromLink(link), GetParam().section);
    EXPECT_EQ(AccountIdFromLink(link), GetParam().account);
    EXPECT_EQ(PageIdFromLink(link), GetParam().pageId);
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, LinkHostile,
    testing::Values(
        HostileLink{"MegabyteTitle",
                    []() -> QString {
                        return kPrefix + "d.docs.live.net/acc/Documents/Nb/Sec.one#"
                               + QStringLiteral("%E6%96%87").repeated(kMiB / 9 + 1)
                               + "&section-id={s}&page-id={P}&end";
                    },
                    QString::fromUtf8("文").repeated(kMiB / 9 + 1), "Nb", "Sec", "acc", "P"},
        HostileLink{
            "RunOfSlashes",
            []() -> QString { return kPrefix + QString(kMiB, u'/') + "Sec.one#T&page-id={P}&"; },
            "T", "", "Sec", "", "P"},
        HostileLink{"BrokenEscapes",
                    []() -> QString {
                        return kPrefix + "h/a/b/N%2/S%.one#" + QString(kMiB, u'%') + "&page-id=x&";
                    },
                    "", "", "", "b", "x"},
        HostileLink{"RunOfSectionMarkers",
                    []() -> QString {
                        return kPrefix + "h/a/b/" + QStringLiteral(".one").repeated(kMiB / 4)
                               + "#T&page-id=x&";
                    },
                    "T", "b", "", "b", "x"},
        HostileLink{"BraceNeverCloses",
                    []() -> QString {
                        return kPrefix + "h/a/b/N/S.one#T&section-id={s}&page-id={"
                               + QString(kMiB, u'A');
                    },
                    "T", "N", "S", "b", ""},
        HostileLink{"RunOfFragments",
                    []() -> QString {
                        return kPrefix + "h/a/b/N/S.one" + QStringLiteral("#&").repeated(kMiB / 2)
                               + "page-id={P}";
                    },
                    "", "N", "S", "b", "P"},
        HostileLink{"LoneSurrogatesInTitle",
                    []() -> QString {
                        return kPrefix + "h/a/b/N/S.one#" + QString(kMiB, QChar(0xD800))
                               + "&page-id={P}&";
                    },
                    "", "N", "S", "b", "P"},
        HostileLink{"NoPrefixAtAll", []() -> QString { return QString(kMiB, u'x'); }, "", "", "",
                    "", ""}),
    [](const auto &param) { return std::string(param.param.name); });

TEST(LinkHostileClipboard, BlanksAroundAMegabyteAreTrimmed)
{
    const QString link = kPrefix + "h/a/b/N/S.one#T&page-id={P}&";
    const QString blanks = QStringLiteral(" \t").repeated(kMiB / 2);
    const QString clip = QStringLiteral("words ") + blanks + link + blanks;
    ASSERT_TRUE(IsOneNoteLink(clip));
    EXPECT_EQ(NormalizeOneNoteLink(clip), link);
    EXPECT_EQ(NormalizeOneNoteLink(QString(kMiB, u'x')), kPrefix);
    const QString prefixes = kPrefix.repeated(kMiB / kPrefix.size());
    EXPECT_EQ(NormalizeOneNoteLink(prefixes), prefixes);
}

TEST(LinkHostileClipboard, DecodingAMegabyte)
{
    EXPECT_EQ(PercentDecode(QStringLiteral("%41").repeated(kMiB)), QString(kMiB, u'A'));
    EXPECT_EQ(PercentDecode(QStringLiteral("%C3").repeated(kMiB)), QString()) << "not UTF-8";
    EXPECT_EQ(PercentDecode(QString(kMiB, u'%')), QString());
    EXPECT_EQ(PercentDecode(QString(kMiB, u'+')), QString(kMiB, u'+'));
}
