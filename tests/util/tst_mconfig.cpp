#include "../support/TestFiles.h"

#include "util/MConfig.h"
#include "util/MLimits.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <thread>

using namespace Cogitra;
using namespace Cogitra::Testing;

namespace {

const QString kFixtures = QStringLiteral(COGITRA_FIXTURES_DIR "/config");

// {"K": []} in XML, padded with blanks inside the dictionary to the given length.
QByteArray PaddedList(qsizetype length)
{
    const QByteArray head = "<?xml version=\"1.0\"?><plist><dict><key>K</key><array/>";
    const QByteArray tail = "</dict></plist>";
    return head + QByteArray(length - head.size() - tail.size(), ' ') + tail;
}

class ConfigTest : public ::testing::Test
{
protected:
    QString path(const QString &name = QStringLiteral("zetapp.plist")) const
    {
        return m_Dir.filePath(name);
    }
    QTemporaryDir m_Dir;
};

} // namespace

// Every type at its edges reads back after Save; another type saturates or is no day.
TEST_F(ConfigTest, ValuesReadBackWithTheirTypesAndDefaults)
{
    MConfig first(path());
    EXPECT_EQ(first.ReadValueDefStr("Host", "dflt").toString(), "dflt");
    EXPECT_TRUE(first.ReadValueDefBool("b", true));
    EXPECT_EQ(first.ReadValueDefDate("d", QDate(2020, 1, 2)), QDate(2020, 1, 2));
    first.WriteValueStr("Null", QString());
    first.WriteValueInt("Min", std::numeric_limits<int64_t>::min());
    first.WriteValueInt("Max", std::numeric_limits<int64_t>::max());
    first.WriteValueBool("No", false);
    first.WriteValueDate("Early", QDate(999, 1, 5));
    first.WriteValueStr("Huge", "99999999999999999999");
    first.WriteValueStr("Dashed", "2024-02-29");
    first.WriteValueStr("BadDay", "20240230");
    EXPECT_FALSE(QFile::exists(path())) << "writes reach the disk only on Save";
    ASSERT_TRUE(first.Save());

    const MConfig config(path());
    EXPECT_EQ(config.ReadValueDefStr("Null", "dflt").toString(), "");
    EXPECT_EQ(config.ReadValueDefInt("Min", 5), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(config.ReadValueDefInt("Max", 5), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(config.ReadValueDefInt("Huge", 0), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(config.ReadValueDefInt("Absent", -7), -7);
    EXPECT_FALSE(config.ReadValueDefBool("No", true));
    EXPECT_EQ(config.ReadValueDefDate("Early", std::nullopt), QDate(999, 1, 5));
    EXPECT_EQ(config.ReadValueDefStr("Early", QString()).toString(), "09990105")
        << "a date is an eight-digit text, not a date element";
    for (const char *key : {"Dashed", "BadDay", "No"})
        EXPECT_EQ(config.ReadValueDefDate(key, QDate(2000, 1, 1)), std::nullopt) << key;

    MConfig nowhere(path("no/such/folder/zetapp.plist"));
    nowhere.WriteValueStr("Host", "x");
    EXPECT_FALSE(nowhere.Save());
    EXPECT_FALSE(QFile::exists(path("no")));
}

// Another writer's files, binary and XML, keep every value through a save of one key.
TEST_F(ConfigTest, ListsFromAnotherWriterSurviveASave)
{
    const QList<QPair<const char *, QVariant>> expected = {
        {"OnlineOneNoteAccessToken", "EwB4A8l6BAAUbDba3x2OMJElkF7gJ4z/VbCPEz0AAfake"},
        {"Unicode", QString::fromUtf8("Gr\xC3\xBC\xC3\x9F\x65 \xE5\xAF\xBC\xE5\x9B\xBE "
                                      "\xF0\x9F\x98\x80 <&>")},
        {"Empty", ""},
        {"MinInt", std::numeric_limits<qint64>::min()},
        {"MaxInt", std::numeric_limits<qint64>::max()},
        {"True", true},
        {"Real", 2.5},
        {"Date", QDateTime(QDate(2024, 2, 29), QTime(13, 45, 10), QTimeZone::utc())},
        {"Data", QByteArray("\x00\x01\xfe\xff", 4)},
        {"List", QVariantList{qint64(1), "two", false}},
        {"Nested", QVariantMap{{"Inner", "value"}, {"Deep", QVariantMap{{"n", qint64(7)}}}}},
        {"DayString", "20240229"},
    };
    const auto expectAll = [&](const MConfig &config) {
        ASSERT_TRUE(config.hasDictionary());
        for (const auto &[key, value] : expected)
            EXPECT_EQ(config.ReadValueDefStr(key, QVariant()), value) << key;
        EXPECT_EQ(config.ReadValueDefInt("List", 9), 9) << "no integer reading: the default";
    };
    for (const char *name : {"binary-from-plistlib.plist", "xml-from-plistlib.plist"}) {
        SCOPED_TRACE(name);
        expectAll(MConfig(kFixtures + "/" + name));
        QFile::remove(path());
        ASSERT_TRUE(QFile::copy(kFixtures + "/" + name, path()));
        MConfig config(path());
        config.WriteValueStr("Host", "h");
        ASSERT_TRUE(config.Save());
        EXPECT_TRUE(ReadBytes(path()).startsWith("<?xml"));
        EXPECT_EQ(QDir(m_Dir.path()).entryList(QDir::Files | QDir::Hidden),
                  QStringList{"zetapp.plist"})
            << "no temporary file is left beside it";
        expectAll(MConfig(path()));
        EXPECT_EQ(MConfig(path()).ReadValueDefStr("Host", QString()), "h");
    }
}

// Saves from two threads at once: a reader always finds a whole file of one of them.
TEST_F(ConfigTest, ConcurrentSavesKeepTheFileWhole)
{
    std::atomic<int> writersLeft{2};
    auto write = [&](const QString &name, int round) {
        MConfig config(path());
        config.WriteValueStr("Writer", name);
        config.WriteValueStr("Payload", QString(2000, name.at(0)));
        config.WriteValueInt("Round", round);
        return config.Save();
    };
    ASSERT_TRUE(write("a", 0));
    auto writer = [&](const QString &name) {
        for (int i = 0; i < 100; ++i)
            (void)write(name, i);
        --writersLeft;
    };
    std::thread a(writer, QStringLiteral("a"));
    std::thread b(writer, QStringLiteral("b"));
    int reads = 0;
    int broken = 0;
    for (; writersLeft.load() > 0; ++reads) {
        const MConfig config(path());
        const QString who = config.ReadValueDefStr("Writer", "-").toString();
        if (!config.hasDictionary()
            || config.ReadValueDefStr("Payload", "-").toString() != QString(2000, who.at(0)))
            ++broken;
    }
    a.join();
    b.join();
    EXPECT_EQ(broken, 0) << "of " << reads << " reads";
    EXPECT_EQ(MConfig(path()).ReadValueDefInt("Round", -1), 99);
}

// A damaged file reads as defaults and stays as it is until a write keeps it as ".damaged".
// The limits admit their own edge: 64 levels below the root, a file of kMaxConfigBytes.
TEST_F(ConfigTest, DamagedFileYieldsDefaultsUntilTheNextSave)
{
    WriteBytes(path(), ReadBytes(kFixtures + "/nested-64.plist"));
    EXPECT_EQ(MConfig(path()).ReadValueDefStr("K", {}).typeId(), QMetaType::QVariantList);
    WriteBytes(path(), PaddedList(kMaxConfigBytes));
    EXPECT_TRUE(MConfig(path()).hasDictionary());

    const QByteArray binary = ReadBytes(kFixtures + "/binary-from-plistlib.plist");
    const QByteArray xml = ReadBytes(kFixtures + "/xml-from-plistlib.plist");
    QList<QPair<QString, QByteArray>> damaged = {
        {"Empty", QByteArray()},
        {"PlainText", "OnlineOneNoteAccessToken = secret\n"},
        {"RootString", "<?xml version=\"1.0\"?><plist><string>x</string></plist>"},
        {"TruncatedBinary", binary.left(binary.size() / 2)},
        {"BinaryMagicOnly", "bplist00"},
        {"TruncatedXml", xml.left(xml.size() / 2)},
        {"PastTheSizeLimit", PaddedList(kMaxConfigBytes + 1)},
    };
    for (const char *name :
         {"root-array", "nested-65", "array-holding-itself", "integer-key",
          "reference-past-the-end", "offset-table-past-the-end", "binary-key-with-nul"})
        damaged.append({name, ReadBytes(kFixtures + "/" + name + ".plist")});
    for (const auto &[name, original] : damaged) {
        SCOPED_TRACE(name.toStdString());
        ASSERT_FALSE(original.isEmpty() && name != "Empty");
        QFile::remove(path() + ".damaged");
        WriteBytes(path(), original);
        MConfig untouched(path());
        EXPECT_FALSE(untouched.hasDictionary());
        EXPECT_EQ(untouched.ReadValueDefStr("OnlineOneNoteAccessToken", "dflt").toString(), "dflt");
        EXPECT_FALSE(untouched.Save()) << "nothing written, nothing to save";
        EXPECT_EQ(ReadBytes(path()), original);

        MConfig config(path());
        config.WriteValueInt("n", 1);
        ASSERT_TRUE(config.Save());
        EXPECT_EQ(ReadBytes(path() + ".damaged"), original);
        EXPECT_EQ(MConfig(path()).ReadValueDefInt("n", 4), 1);
        EXPECT_TRUE(OwnerOnly(path()));
    }
}
