#include "util/MStrings.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace Cogitra;

// Every line of the source tables parses (none is silently dropped) into the compiled-in table,
// and every key has a text in both languages: a missing one shows the user an empty alert.
TEST(StringTables, ParseExactlyIntoTheCompiledTablesAndHaveEveryKeyInBoth)
{
    for (const QString &language : {QStringLiteral("en"), QStringLiteral("cn")}) {
        SCOPED_TRACE(language.toStdString());
        QFile file(
            QStringLiteral(COGITRA_SOURCE_DIR "/resources/strings/%1.strings").arg(language));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        QStringList problems;
        const QHash<QString, QString> table = ParseStringTable(text, &problems);
        EXPECT_EQ(problems, QStringList());
        EXPECT_EQ(table.size(), text.count(QStringLiteral("\n\"")) + text.startsWith(u'"'));
        EXPECT_EQ(StringTable(language), table);
        const QHash<QString, QString> other = StringTable(language == "en" ? "cn" : "en");
        for (auto it = table.cbegin(); it != table.cend(); ++it)
            EXPECT_FALSE(it.value().isEmpty() || !other.contains(it.key()))
                << it.key().toStdString();
    }
    EXPECT_EQ(LocalizedString("noSuchKey"), "");
}

TEST(ChooseLanguage, ForcedThenFirstKnownPreferredThenEnglish)
{
    using Internal::ChooseLanguage;
    EXPECT_EQ(ChooseLanguage("cn", {"en-US"}), "cn");
    EXPECT_EQ(ChooseLanguage("en", {"zh-Hans-CN"}), "en");
    EXPECT_EQ(ChooseLanguage("de", {"zh-Hans-CN"}), "cn") << "an unknown forced value is ignored";
    EXPECT_EQ(ChooseLanguage("", {"zh_TW"}), "cn");
    EXPECT_EQ(ChooseLanguage("", {"fr-FR", "de", "zh"}), "cn");
    EXPECT_EQ(ChooseLanguage("", {"fr-FR", "en-GB", "zh-CN"}), "en");
    EXPECT_EQ(ChooseLanguage("", {"zha-CN", "fr"}), "en") << "a language code, not a prefix";
    EXPECT_EQ(ChooseLanguage("", {}), "en");
}

// Escapes, comments and blank lines are read; each bad line is reported with its number, and
// the good lines around it are kept.
TEST(ParseStringTable, ReadsEscapesAndReportsEachBadLine)
{
    QStringList problems;
    const QHash<QString, QString> table = ParseStringTable(
        QStringLiteral("\xFEFF/* head */\r\n\n// note\n  \"a\" = \"x \\\"q\\\" \\\\ \\n\\t\";  \r\n"
                       "\"b\"=\"\";\n\"c\" = \"%@ and %1\";"),
        &problems);
    EXPECT_EQ(problems, QStringList());
    EXPECT_EQ(table,
              (QHash<QString, QString>{{"a", "x \"q\" \\ \n\t"}, {"b", ""}, {"c", "%@ and %1"}}));

    for (const char *line : {"\"k\" = \"v\"", "\"k\" = \"v;", "\"k\" \"v\";", "k = \"v\";",
                             "\"k\" = \"v\"; extra", "\"k\" = \"a\\qb\";", "/* open comment",
                             "\"\" = \"v\";", "\"ok\" = \"again\";", "\"k\" = v;"}) {
        const QHash<QString, QString> kept
            = ParseStringTable(QStringLiteral("\"ok\" = \"1\";\n") + line, &problems);
        ASSERT_EQ(problems.size(), 1) << line;
        EXPECT_TRUE(problems.takeFirst().startsWith("line 2:")) << line;
        EXPECT_EQ(kept, (QHash<QString, QString>{{"ok", "1"}})) << line;
    }
}
