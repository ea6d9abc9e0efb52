#include "util/MConfig.h"
#include "util/MLimits.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <thread>

#include <sys/stat.h>

using namespace Cogitra;

namespace {

const QString kFixtures = QStringLiteral(COGITRA_FIXTURES_DIR "/config");

// The mode bits as the file system has them, not as Qt reads them for the current user.
unsigned ModeOf(const QString &path)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 07777;
    return info.st_mode & 0777;
}

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// Runs a Python script with the standard library's plistlib as the independent reader or
// writer; the script exits non-zero and explains on a mismatch.
void RunPython(const QString &script, const QStringList &args)
{
    QProcess python;
    python.start(QStringLiteral("python3"), QStringList{QStringLiteral("-c"), script} + args);
    ASSERT_TRUE(python.waitForFinished(30000)) << "python3 did not run";
    EXPECT_EQ(python.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString()
                                    << python.readAllStandardOutput().toStdString();
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

TEST_F(ConfigTest, AbsentFileGivesDefaultsAndIsNotCreated)
{
    const MConfig config(path());
    EXPECT_TRUE(config.hasDictionary());
    EXPECT_EQ(config.ReadValueDefStr("Host", QStringLiteral("dflt")).toString(), "dflt");
    EXPECT_FALSE(config.ReadValueDefStr("Host", QVariant()).isValid());
    EXPECT_EQ(config.ReadValueDefInt("n", -7), -7);
    EXPECT_TRUE(config.ReadValueDefBool("b", true));
    EXPECT_EQ(config.ReadValueDefDate("d", QDate(2020, 1, 2)), QDate(2020, 1, 2));
    EXPECT_EQ(config.ReadValueDefDate("d", std::nullopt), std::nullopt);
    EXPECT_FALSE(QFile::exists(path()));
}

TEST_F(ConfigTest, EveryValueTypeRoundTrips)
{
    const int64_t kIntegers[]
        = {0, -42, -1, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max()};
    const QString unicode
        = QString::fromUtf8("Gr\xC3\xBC\xC3\x9F \xE5\xAF\xBC \xF0\x9F\x98\x80 <&>\"'");
    {
        MConfig config(path());
        config.WriteValueStr("Text", unicode);
        config.WriteValueStr("Null", QString());
        for (const int64_t n : kIntegers)
            config.WriteValueInt(QString::number(n), n);
        config.WriteValueBool("Yes", true);
        config.WriteValueBool("No", false);
        config.WriteValueDate("Day", QDate(2024, 2, 29));
        config.WriteValueDate("Early", QDate(999, 1, 5));
        ASSERT_TRUE(config.Save());
    }
    const MConfig config(path());
    EXPECT_EQ(config.ReadValueDefStr("Text", QString()).toString(), unicode);
    // A missing text is stored as "": the key is present and the default is not used.
    const QVariant null = config.ReadValueDefStr("Null", QStringLiteral("dflt"));
    EXPECT_EQ(null.typeId(), QMetaType::QString);
    EXPECT_EQ(null.toString(), "");
    for (const int64_t n : kIntegers)
        EXPECT_EQ(config.ReadValueDefInt(QString::number(n), 5), n);
    EXPECT_TRUE(config.ReadValueDefBool("Yes", false));
    EXPECT_FALSE(config.ReadValueDefBool("No", true));
    EXPECT_EQ(config.ReadValueDefDate("Day", std::nullopt), QDate(2024, 2, 29));
    EXPECT_EQ(config.ReadValueDefDate("Early", std::nullopt), QDate(999, 1, 5));
    EXPECT_EQ(config.ReadValueDefStr("Day", QString()).toString(), "20240229")
        << "a date is an eight-digit text, not a date element";
}

TEST_F(ConfigTest, WritesReachTheDiskOnlyOnSave)
{
    MConfig first(path());
    first.WriteValueStr("Host", "a.example");
    EXPECT_EQ(MConfig(path()).ReadValueDefStr("Host", "none").toString(), "none");
    EXPECT_FALSE(QFile::exists(path()));
    ASSERT_TRUE(first.Save());
    EXPECT_EQ(MConfig(path()).ReadValueDefStr("Host", "none").toString(), "a.example");
}

TEST_F(ConfigTest, ReadingsOfOtherTypes)
{
    WriteAll(path(), R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
<key>IntText</key><string>  -12abc</string>
<key>Huge</key><string>99999999999999999999</string>
<key>NoDigits</key><string>abc</string>
<key>YesText</key><string>YES</string>
<key>NoText</key><string>no</string>
<key>ZeroOne</key><string>001</string>
<key>Real</key><real>-2.75</real>
<key>True</key><true/>
<key>Seven</key><integer>7</integer>
<key>List</key><array><string>x</string></array>
<key>Dashed</key><string>2024-02-29</string>
<key>BadDay</key><string>20240230</string>
<key>Short</key><string>2024229</string>
</dict></plist>)");
    const MConfig config(path());
    EXPECT_EQ(config.ReadValueDefInt("IntText", 0), -12);
    EXPECT_EQ(config.ReadValueDefInt("Huge", 0), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(config.ReadValueDefInt("NoDigits", 5), 0);
    EXPECT_EQ(config.ReadValueDefInt("Real", 0), -2);
    EXPECT_EQ(config.ReadValueDefInt("True", 0), 1);
    EXPECT_EQ(config.ReadValueDefInt("List", 9), 9) << "no integer reading: the default";
    EXPECT_TRUE(config.ReadValueDefBool("YesText", false));
    EXPECT_FALSE(config.ReadValueDefBool("NoText", true));
    EXPECT_TRUE(config.ReadValueDefBool("ZeroOne", false));
    EXPECT_TRUE(config.ReadValueDefBool("Seven", false));
    EXPECT_EQ(config.ReadValueDefStr("Seven", QVariant()).toLongLong(), 7)
        << "the stored value comes back unchanged, whatever its type";

    // Present but not an eight-digit day: no date, and not the default.
    const std::optional<QDate> def = QDate(2000, 1, 1);
    EXPECT_EQ(config.ReadValueDefDate("Dashed", def), std::nullopt);
    EXPECT_EQ(config.ReadValueDefDate("BadDay", def), std::nullopt);
    EXPECT_EQ(config.ReadValueDefDate("Short", def), std::nullopt);
    EXPECT_EQ(config.ReadValueDefDate("Seven", def), std::nullopt);
    EXPECT_EQ(config.ReadValueDefDate("Absent", def), def);
}

// Golden files of another writer, in both forms, keep every value with its type.
TEST_F(ConfigTest, ListsFromAnotherWriterReadBack)
{
    const QList<QPair<const char *, QVariant>> expected = {
        {"OnlineOneNoteAccessToken", "EwB4A8l6BAAUbDba3x2OMJElkF7gJ4z/VbCPEz0AAfake"},
        {"Host", "editor.example.net:8080"},
        {"Unicode", QString::fromUtf8("Gr\xC3\xBC\xC3\x9F\x65 \xE5\xAF\xBC\xE5\x9B\xBE "
                                      "\xF0\x9F\x98\x80 <&>")},
        {"Empty", ""},
        {"Negative", qint64(-42)},
        {"MinInt", std::numeric_limits<qint64>::min()},
        {"MaxInt", std::numeric_limits<qint64>::max()},
        {"Zero", qint64(0)},
        {"True", true},
        {"False", false},
        {"Real", 2.5},
        {"Date", QDateTime(QDate(2024, 2, 29), QTime(13, 45, 10), QTimeZone::utc())},
        {"Data", QByteArray("\x00\x01\xfe\xff", 4)},
        {"List", QVariantList{qint64(1), "two", false}},
        {"Nested", QVariantMap{{"Inner", "value"}, {"Deep", QVariantMap{{"n", qint64(7)}}}}},
    };
    for (const char *name : {"binary-from-plistlib.plist", "xml-from-plistlib.plist"}) {
        SCOPED_TRACE(name);
        const MConfig config(kFixtures + "/" + name);
        ASSERT_TRUE(config.hasDictionary());
        for (const auto &[key, value] : expected)
            EXPECT_EQ(config.ReadValueDefStr(key, QVariant()), value) << key;
        EXPECT_EQ(config.ReadValueDefDate("DayString", std::nullopt), QDate(2024, 2, 29));
    }
}

TEST_F(ConfigTest, SavedFileIsReadByAnIndependentReader)
{
    // Start from the other writer's file so that every value type passes through the store;
    // one key changed, every other key (also those the system never names) must survive.
    ASSERT_TRUE(QFile::copy(kFixtures + "/binary-from-plistlib.plist", path()));
    QFile::setPermissions(path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    {
        MConfig config(path());
        config.WriteValueStr("Host", QString::fromUtf8("h\xC3\xB6st \xF0\x9F\x98\x80"));
        config.WriteValueInt("Negative", -9000000000);
        config.WriteValueDate("Day", QDate(2023, 12, 31));
        ASSERT_TRUE(config.Save());
    }
    EXPECT_TRUE(ReadAll(path()).startsWith("<?xml")) << "the store writes XML";
    RunPython(QStringLiteral(R"(
import datetime, plistlib, sys
with open(sys.argv[1], 'rb') as f:
    got = plistlib.load(f)
with open(sys.argv[2], 'rb') as f:
    want = plistlib.load(f)
want['Host'] = 'h\u00f6st \U0001F600'
want['Negative'] = -9000000000
want['Day'] = '20231231'
for key in sorted(set(got) | set(want)):
    if got.get(key) != want.get(key):
        print(key, repr(got.get(key)), '!=', repr(want.get(key)))
        sys.exit(1)
)"),
              {path(), kFixtures + "/binary-from-plistlib.plist"});
}

TEST_F(ConfigTest, FileIsOwnerOnlyAndReplacedWhole)
{
    WriteAll(path(),
             "<?xml version=\"1.0\"?><plist><dict><key>K</key><string>v</string></dict></plist>");
    QFile::setPermissions(path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                      | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    MConfig config(path());
    config.WriteValueStr("OnlineOneNoteAccessToken", "secret");
    ASSERT_TRUE(config.Save());
    EXPECT_EQ(ModeOf(path()), 0600u) << "a file that holds tokens is readable by its owner only";
    EXPECT_EQ(QDir(m_Dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"zetapp.plist"})
        << "no temporary file is left beside it";
    EXPECT_EQ(MConfig(path()).ReadValueDefStr("K", QString()).toString(), "v");
}

TEST_F(ConfigTest, SaveIntoMissingFolderFailsQuietly)
{
    MConfig config(path("no/such/folder/zetapp.plist"));
    config.WriteValueStr("Host", "x");
    EXPECT_FALSE(config.Save());
    EXPECT_FALSE(QFile::exists(path("no")));
}

// Stores are made on the main thread and on the worker at once: whatever the interleaving,
// a reader finds a whole file, written by one of the stores.
TEST_F(ConfigTest, ConcurrentSavesKeepTheFileWhole)
{
    {
        MConfig config(path());
        config.WriteValueStr("Writer", "none");
        ASSERT_TRUE(config.Save());
    }
    std::atomic<int> writersLeft{2};
    auto writer = [&](const QString &name) {
        for (int i = 0; i < 100; ++i) {
            MConfig config(path());
            config.WriteValueStr("Writer", name);
            config.WriteValueStr("Payload", QString(2000, name.at(0)));
            config.WriteValueInt("Round", i);
            (void)config.Save();
        }
        --writersLeft;
    };
    std::thread a(writer, QStringLiteral("a"));
    std::thread b(writer, QStringLiteral("b"));
    int reads = 0;
    int broken = 0;
    while (writersLeft.load() > 0) {
        const MConfig config(path());
        const QString who = config.ReadValueDefStr("Writer", "missing").toString();
        const QString payload = config.ReadValueDefStr("Payload", QString()).toString();
        if (!config.hasDictionary() || (who != "none" && payload != QString(2000, who.at(0))))
            ++broken;
        ++reads;
    }
    a.join();
    b.join();
    EXPECT_GT(reads, 0);
    EXPECT_EQ(broken, 0) << "of " << reads << " reads";
    EXPECT_EQ(MConfig(path()).ReadValueDefInt("Round", -1), 99);
}

struct DamagedFile
{
    const char *name;
    QByteArray bytes;
};

class DamagedConfigTest : public ConfigTest, public ::testing::WithParamInterface<DamagedFile>
{
};

// A file that is not a property-list dictionary reads as defaults and stays on the disk
// byte for byte until something is written; then Save keeps it as "<name>.damaged" and
// writes a readable file, so a sign-in is not lost at every start.
TEST_P(DamagedConfigTest, YieldsDefaultsUntilTheNextSave)
{
    const QByteArray original = GetParam().bytes;
    WriteAll(path(), original);
    {
        MConfig config(path());
        EXPECT_FALSE(config.hasDictionary());
        EXPECT_EQ(config.ReadValueDefStr("OnlineOneNoteAccessToken", "dflt").toString(), "dflt");
        EXPECT_EQ(config.ReadValueDefInt("n", 4), 4);
        EXPECT_FALSE(config.ReadValueDefBool("b", false));
        EXPECT_EQ(config.ReadValueDefDate("d", QDate(2001, 2, 3)), QDate(2001, 2, 3));
        EXPECT_FALSE(config.Save()) << "nothing written, nothing to save";
        EXPECT_EQ(ReadAll(path()), original);
    }

    MConfig config(path());
    config.WriteValueStr("OnlineOneNoteAccessToken", "new");
    config.WriteValueInt("n", 1);
    EXPECT_EQ(config.ReadValueDefStr("OnlineOneNoteAccessToken", "dflt").toString(), "new");
    ASSERT_TRUE(config.Save());
    EXPECT_EQ(ReadAll(path() + ".damaged"), original);

    MConfig reread(path());
    EXPECT_TRUE(reread.hasDictionary());
    EXPECT_EQ(reread.ReadValueDefStr("OnlineOneNoteAccessToken", "dflt").toString(), "new");
    EXPECT_EQ(reread.ReadValueDefInt("n", 4), 1);
    EXPECT_EQ((QFile::permissions(path()) & 0x0077).toInt(), 0) << "tokens stay owner-only";
}

namespace {

QByteArray Fixture(const QString &name)
{
    return ReadAll(kFixtures + "/" + name);
}

QByteArray BigEndian(quint64 value, int size)
{
    QByteArray out(size, '\0');
    for (int i = size - 1; i >= 0; --i, value >>= 8)
        out[i] = char(value & 0xff);
    return out;
}

// A binary property list of the given objects (object 0 the root), with four-byte offsets
// and object references; padding bytes between the objects and the offset table make the
// file as long as a test needs.
QByteArray BinaryList(const std::vector<QByteArray> &objects, qsizetype padding = 0)
{
    QByteArray out("bplist00");
    QByteArray offsets;
    for (const QByteArray &object : objects) {
        offsets += BigEndian(quint64(out.size()), 4);
        out += object;
    }
    out.append(padding, '\0');
    const quint64 table = quint64(out.size());
    return out + offsets + QByteArray(6, '\0') + "\x04\x04" + BigEndian(objects.size(), 8)
           + BigEndian(0, 8) + BigEndian(table, 8);
}

QByteArray Ref(quint32 index)
{
    return BigEndian(index, 4);
}

// {"K": [[[ ... ]]]}: depth arrays, the innermost one empty, inside the root dictionary.
QByteArray Nested(int depth, qsizetype padding = 0)
{
    std::vector<QByteArray> objects{"\xd1" + Ref(1) + Ref(2), "QK"};
    for (int i = 1; i < depth; ++i)
        objects.push_back("\xa1" + Ref(quint32(2 + i)));
    objects.push_back("\xa0");
    return BinaryList(objects, padding);
}

std::vector<DamagedFile> DamagedFiles()
{
    const QByteArray binary = Fixture("binary-from-plistlib.plist");
    const QByteArray xml = Fixture("xml-from-plistlib.plist");
    return {
        {"Empty", QByteArray()},
        {"PlainText", "OnlineOneNoteAccessToken = secret\n"},
        {"Json", R"({"Host": "a.example"})"},
        {"RootArray", Fixture("root-array.plist")},
        {"RootString", "<?xml version=\"1.0\"?><plist><string>x</string></plist>"},
        {"TruncatedBinary", binary.left(binary.size() / 2)},
        {"BinaryWithoutTrailer", binary.left(binary.size() - 32)},
        {"BinaryMagicOnly", "bplist00"},
        {"TruncatedXml", xml.left(xml.size() / 2)},
        {"BinaryNoise", QByteArray("\x00\xff\x13\x37\x80\x7f", 6).repeated(50)},
        // The root is at depth 0; the store reads 64 levels below it and no more.
        {"NestedPastTheStoresDepth", Nested(65)},
        {"NestedAThousandDeep", Nested(1000)},
        {"ArrayHoldingItself", BinaryList({"\xd1" + Ref(1) + Ref(2), "QK", "\xa1" + Ref(2)})},
        {"ReferencePastTheEnd", BinaryList({"\xd1" + Ref(1) + Ref(2), "QK", "\xa1" + Ref(9)})},
        {"IntegerKey", BinaryList({"\xd1" + Ref(1) + Ref(2), QByteArray("\x10\x05", 2), "Qv"})},
        {"OffsetTablePastTheEnd", Nested(3).chopped(1) + "\xff"},
        // A dictionary whose only value refers back to the dictionary itself.
        {"BinaryCycle", QByteArray("bplist00\xD1\x01\x00\x51K\x08\x0B"
                                   "\x00\x00\x00\x00\x00\x00\x01\x01"
                                   "\x00\x00\x00\x00\x00\x00\x00\x02"
                                   "\x00\x00\x00\x00\x00\x00\x00\x00"
                                   "\x00\x00\x00\x00\x00\x00\x00\x0D",
                                   8 + 5 + 2 + 32)},
        // {"\u00e9\0b": "x", "Host": "h"}: a key in UTF-16 holding U+0000, whose reading used
        // to end the process inside libplist.
        {"BinaryKeyWithNul",
         QByteArray("bplist00\xd2\x01\x02\x03\x04THostc\x00\xe9\x00\x00\x00"
                    "bQhQx\x08\x0d\x12\x19\x1b\x00\x00\x00\x00\x00\x00\x01\x01\x00"
                    "\x00\x00\x00\x00\x00\x00\x05\x00\x00\x00\x00\x00\x00\x00\x00"
                    "\x00\x00\x00\x00\x00\x00\x00\x1d",
                    66)},
    };
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Config, DamagedConfigTest, ::testing::ValuesIn(DamagedFiles()),
                         [](const auto &param) { return std::string(param.param.name); });

// The edges of what the store reads: 64 levels of nesting below the root, and a file of
// kMaxConfigBytes; one more of either is a damaged file (rows above). The file past the limit
// is refused by its size.
TEST_F(ConfigTest, DepthAndSizeLimitsAdmitTheirOwnEdge)
{
    WriteAll(path(), Nested(64));
    EXPECT_EQ(MConfig(path()).ReadValueDefStr("K", {}).typeId(), QMetaType::QVariantList);

    const qsizetype bare = Nested(1).size();
    WriteAll(path(), Nested(1, kMaxConfigBytes - bare));
    ASSERT_EQ(QFileInfo(path()).size(), kMaxConfigBytes);
    EXPECT_TRUE(MConfig(path()).hasDictionary());

    WriteAll(path(), Nested(1, kMaxConfigBytes - bare + 1));
    MConfig tooLarge(path());
    EXPECT_FALSE(tooLarge.hasDictionary());
    EXPECT_FALSE(tooLarge.Save());
    EXPECT_EQ(QFileInfo(path()).size(), kMaxConfigBytes + 1);
}
