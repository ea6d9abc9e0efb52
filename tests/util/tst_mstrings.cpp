#include "util/MStrings.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace Cogitra;

namespace {

QString SourceTable(const QString &language)
{
    QFile file(QStringLiteral(COGITRA_SOURCE_DIR "/resources/strings/%1.strings").arg(language));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The keys of a table file in the order they appear.
QStringList KeysInOrder(const QString &text)
{
    QStringList keys;
    for (const QString &line : text.split(u'\n')) {
        if (line.startsWith(u'"'))
            keys.append(line.mid(1, line.indexOf(u'"', 1) - 1));
    }
    return keys;
}

} // namespace

TEST(StringTables, ParseExactlyAndMatchTheCompiledTables)
{
    for (const QString &language : {QStringLiteral("en"), QStringLiteral("cn")}) {
        SCOPED_TRACE(language.toStdString());
        const QString text = SourceTable(language);
        ASSERT_FALSE(text.isEmpty());
        QStringList problems;
        const QHash<QString, QString> table = ParseStringTable(text, &problems);
        EXPECT_EQ(problems, QStringList()) << "no line may be silently dropped";
        const QStringList keys = KeysInOrder(text);
        EXPECT_EQ(table.size(), keys.size());
        QStringList sorted = keys;
        sorted.sort();
        EXPECT_EQ(keys, sorted) << "keys are kept sorted";
        EXPECT_EQ(StringTable(language), table) << "the compiled-in table is the source file";
    }
}

TEST(StringTables, BothLanguagesHaveEveryKey)
{
    const QHash<QString, QString> en = StringTable("en");
    const QHash<QString, QString> cn = StringTable("cn");
    QStringList enKeys = en.keys();
    QStringList cnKeys = cn.keys();
    enKeys.sort();
    cnKeys.sort();
    EXPECT_EQ(enKeys, cnKeys);
    for (const char *key :
         {"appName", "local", "strNewMap", "strDone", "strStep", "strSleep", "strDownloading",
          "strUploading", "strRestartApp", "strVersion", "errGetPageLink", "errPageTitleEmpty",
          "errServerIndexing", "errGetNotebooksSections", "errAccountDiff", "errGetServerPageId",
          "errGetContentError", "errOpenCogitraEditer"}) {
        EXPECT_FALSE(en.value(key).isEmpty()) << key;
        EXPECT_FALSE(cn.value(key).isEmpty()) << key;
    }
    for (auto it = en.cbegin(); it != en.cend(); ++it) {
        EXPECT_FALSE(it.value().isEmpty()) << "en " << it.key().toStdString();
        EXPECT_FALSE(cn.value(it.key()).isEmpty()) << "cn " << it.key().toStdString();
    }
    EXPECT_EQ(en.value("local"), "en");
    EXPECT_EQ(cn.value("local"), "cn");
}

TEST(LocalizedString, FollowsTheLanguageAndMissesAsEmpty)
{
    SetLanguage("cn");
    EXPECT_EQ(Language(), "cn");
    EXPECT_EQ(LocalizedString("local"), "cn");
    SetLanguage("fr");
    EXPECT_EQ(Language(), "cn") << "an unknown language leaves the table as it is";
    SetLanguage("en");
    EXPECT_EQ(LocalizedString("local"), "en");
    EXPECT_EQ(LocalizedString("strNewMap"), "New Map");
    EXPECT_EQ(LocalizedString("noSuchKey"), "");
    EXPECT_EQ(LocalizedString(QString()), "");
    EXPECT_TRUE(StringTable("de").isEmpty());
}

TEST(ParseStringTable, ReadsEscapesCommentsAndBlankLines)
{
    QStringList problems;
    const QHash<QString, QString> table = ParseStringTable(
        QStringLiteral("\xFEFF/* head */\r\n\n// note\n  \"a\" = \"x \\\"q\\\" \\\\ \\n\\t\";  \r\n"
                       "\"b\"=\"\";\n\"c\" = \"%@ and %1\";"),
        &problems);
    EXPECT_EQ(problems, QStringList());
    EXPECT_EQ(table.value("a"), "x \"q\" \\ \n\t");
    EXPECT_TRUE(table.contains("b"));
    EXPECT_EQ(table.value("c"), "%@ and %1");
    EXPECT_EQ(table.size(), 3);
}

TEST(ChooseLanguage, ForcedThenFirstKnownPreferredThenEnglish)
{
    using Internal::ChooseLanguage;
    EXPECT_EQ(ChooseLanguage("cn", {"en-US"}), "cn");
    EXPECT_EQ(ChooseLanguage("en", {"zh-Hans-CN"}), "en");
    EXPECT_EQ(ChooseLanguage("de", {"zh-Hans-CN"}), "cn") << "an unknown forced value is ignored";
    EXPECT_EQ(ChooseLanguage("", {"zh-Hans-CN"}), "cn");
    EXPECT_EQ(ChooseLanguage("", {"zh_TW"}), "cn");
    EXPECT_EQ(ChooseLanguage("", {"fr-FR", "de", "zh"}), "cn");
    EXPECT_EQ(ChooseLanguage("", {"fr-FR", "en-GB", "zh-CN"}), "en");
    EXPECT_EQ(ChooseLanguage("", {"zha-CN", "fr"}), "en") << "a language code, not a prefix";
    EXPECT_EQ(ChooseLanguage("", {"fr"}), "en");
    EXPECT_EQ(ChooseLanguage("", {}), "en");
}

class BadTableLine : public ::testing::TestWithParam<const char *>
{
};

TEST_P(BadTableLine, IsReportedWithItsLineNumber)
{
    QStringList problems;
    const QHash<QString, QString> table
        = ParseStringTable(QStringLiteral("\"ok\" = \"1\";\n") + GetParam(), &problems);
    ASSERT_EQ(problems.size(), 1) << GetParam();
    EXPECT_TRUE(problems.first().startsWith("line 2:")) << problems.first().toStdString();
    EXPECT_EQ(table.value("ok"), "1");
    EXPECT_EQ(table.size(), 1);
}

INSTANTIATE_TEST_SUITE_P(Lines, BadTableLine,
                         ::testing::Values("\"k\" = \"v\"", "\"k\" = \"v;", "\"k\" \"v\";",
                                           "k = \"v\";", "\"k\" = \"v\"; extra",
                                           "\"k\" = \"a\\qb\";", "/* open comment", "\"\" = \"v\";",
                                           "\"ok\" = \"again\";", "\"k\" = v;"));
