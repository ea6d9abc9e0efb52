// The configuration store on files no writer of ours makes: larger than the limit, nested
// a thousand deep, with cycles, references past the end and keys that are not strings. Each
// reads as no dictionary and stays on the disk as it was.
#include "util/MConfig.h"
#include "util/MLimits.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <vector>

using namespace Cogitra;

namespace {

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// A binary property list of the given objects (object 0 the root), with four-byte offsets
// and object references of refSize bytes.
QByteArray BinaryList(const std::vector<QByteArray> &objects, int refSize)
{
    QByteArray out("bplist00");
    std::vector<quint32> offsets;
    for (const QByteArray &object : objects) {
        offsets.push_back(static_cast<quint32>(out.size()));
        out += object;
    }
    const quint64 table = static_cast<quint64>(out.size());
    for (const quint32 offset : offsets) {
        char be[4];
        qToBigEndian(offset, be);
        out.append(be, 4);
    }
    out.append(6, '\0');
    out.append(char(4));
    out.append(char(refSize));
    for (const quint64 value : {quint64(objects.size()), quint64(0), table}) {
        char be[8];
        qToBigEndian(value, be);
        out.append(be, 8);
    }
    return out;
}

QByteArray Ref(quint32 index)
{
    char be[4];
    qToBigEndian(index, be);
    return QByteArray(be, 4);
}

// {"K": [[[ ... ]]]} nested depth arrays deep.
QByteArray NestedBinary(int depth)
{
    std::vector<QByteArray> objects{"\xd1" + Ref(1) + Ref(2), "QK"};
    for (int i = 0; i < depth; ++i)
        objects.push_back("\xa1" + Ref(static_cast<quint32>(3 + i)));
    objects.push_back("\xa0");
    return BinaryList(objects, 4);
}

struct HostileFile
{
    const char *name;
    QByteArray bytes;
};

class ConfigHostile : public testing::TestWithParam<HostileFile>
{
protected:
    void SetUp() override { ASSERT_TRUE(m_Dir.isValid()); }
    QString path() const { return m_Dir.filePath(QStringLiteral("zetapp.plist")); }
    QTemporaryDir m_Dir;
};

} // namespace

TEST_P(ConfigHostile, ReadsAsNoDictionaryAndIsKeptWhenReplaced)
{
    const QByteArray original = GetParam().bytes;
    WriteAll(path(), original);
    MConfig config(path());
    EXPECT_FALSE(config.hasDictionary());
    EXPECT_EQ(config.ReadValueDefStr(QStringLiteral("K"), QStringLiteral("dflt")).toString(),
              QStringLiteral("dflt"));
    EXPECT_EQ(ReadAll(path()), original);
    config.WriteValueStr(QStringLiteral("OnlineOneNoteAccessToken"), QStringLiteral("new"));
    EXPECT_TRUE(config.Save());
    EXPECT_EQ(ReadAll(path() + QStringLiteral(".damaged")), original);
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, ConfigHostile,
    testing::Values(HostileFile{"NestedAThousandDeep", NestedBinary(1000)},
                    HostileFile{"NestedPastTheStoresDepth", NestedBinary(65)},
                    HostileFile{"ArrayHoldingItself",
                                BinaryList({"\xd1" + Ref(1) + Ref(2), "QK", "\xa1" + Ref(2)}, 4)},
                    HostileFile{"ReferencePastTheEnd",
                                BinaryList({"\xd1" + Ref(1) + Ref(2), "QK", "\xa1" + Ref(9)}, 4)},
                    HostileFile{
                        "IntegerKey",
                        BinaryList({"\xd1" + Ref(1) + Ref(2), QByteArray("\x10\x05", 2), "Qv"}, 4)},
                    HostileFile{"OffsetTablePastTheEnd",
                                NestedBinary(3).left(NestedBinary(3).size() - 1) + "\xff"}),
    [](const auto &param) { return std::string(param.param.name); });

TEST(ConfigHostileDepth, NestingWithinTheLimitStillReads)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("zetapp.plist"));
    WriteAll(path, NestedBinary(40));
    MConfig config(path);
    EXPECT_TRUE(config.hasDictionary());
    EXPECT_EQ(config.ReadValueDefStr(QStringLiteral("K"), {}).typeId(), QMetaType::QVariantList);
}

// A file past the limit is refused by its size and never read; the sparse file takes no
// room on the disk.
TEST(ConfigHostileSize, FilePastTheLimitIsLeftAlone)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("zetapp.plist"));
    const QByteArray head = "<?xml version=\"1.0\"?><plist><dict><key>Host</key><string>h</string>"
                            "</dict></plist>";
    WriteAll(path, head);
    ASSERT_TRUE(QFile::resize(path, kMaxConfigBytes + 1));
    MConfig config(path);
    EXPECT_FALSE(config.hasDictionary());
    EXPECT_FALSE(config.Save());
    EXPECT_EQ(QFile(path).size(), kMaxConfigBytes + 1);
}
