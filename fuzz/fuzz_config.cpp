// The configuration file as any bytes on the disk: every key reads with every accessor, and a
// store that rewrites one key keeps every other key and value of the file. A file that is not
// a dictionary is kept whole beside the new one when a store that was written to saves.
#include "FuzzSupport.h"

#include "util/MConfig.h"

#include <QByteArray>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QStringList>

#include <plist/plist.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace Cogitra;

namespace {

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(bytes) == bytes.size());
}

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

// The root dictionary's keys as libplist itself lists them.
QStringList KeysOf(const QByteArray &bytes)
{
    QStringList keys;
    if (bytes.isEmpty())
        return keys;
    plist_t root = nullptr;
    plist_from_memory(bytes.constData(), static_cast<uint32_t>(bytes.size()), &root);
    if (root && plist_get_node_type(root) == PLIST_DICT) {
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(root, &it);
        const uint32_t size = plist_dict_get_size(root);
        for (uint32_t i = 0; i < size; ++i) {
            char *key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(root, it, &key, &value);
            if (!key)
                break;
            keys.append(QString::fromUtf8(key));
            std::free(key);
        }
        std::free(it);
    }
    plist_free(root);
    return keys;
}

QString QDebugText(const QVariant &value)
{
    QString text;
    QDebug(&text) << value;
    return text.left(300);
}

bool Same(const QVariant &a, const QVariant &b)
{
    // An XML property list writes a keyed archive's UID as {"CF$UID": n}, and libplist reads
    // that back as the dictionary it is.
    if (a.typeId() == QMetaType::ULongLong && b.typeId() == QMetaType::QVariantMap) {
        const QVariantMap uid = b.toMap();
        return uid.size() == 1
               && uid.value(QStringLiteral("CF$UID")).toULongLong() == a.toULongLong();
    }
    if (a.typeId() != b.typeId())
        return false;
    switch (a.typeId()) {
    case QMetaType::Double: {
        const double x = a.toDouble();
        const double y = b.toDouble();
        return (std::isnan(x) && std::isnan(y)) || x == y;
    }
    case QMetaType::QVariantList: {
        const QVariantList x = a.toList();
        const QVariantList y = b.toList();
        if (x.size() != y.size())
            return false;
        for (qsizetype i = 0; i < x.size(); ++i) {
            if (!Same(x.at(i), y.at(i)))
                return false;
        }
        return true;
    }
    case QMetaType::QVariantMap: {
        const QVariantMap x = a.toMap();
        const QVariantMap y = b.toMap();
        if (x.keys() != y.keys())
            return false;
        for (auto it = x.cbegin(); it != x.cend(); ++it) {
            if (!Same(it.value(), y.value(it.key())))
                return false;
        }
        return true;
    }
    case QMetaType::QDateTime: {
        // libplist keeps a date as whole seconds from 2001 in 32 bits (1933 to 2069) and
        // writes negative ones rounded toward 2001: a binary file's fraction is not kept, and
        // dates near the ends of that range do not come back. Cogitra itself stores dates as
        // "yyyyMMdd" strings.
        const qint64 before = a.toDateTime().toMSecsSinceEpoch();
        const qint64 after = b.toDateTime().toMSecsSinceEpoch();
        const int year = a.toDateTime().date().year();
        return year < 1935 || year > 2067 || std::llabs(before - after) < 1000;
    }
    case QMetaType::QString: {
        // An XML property list cannot hold U+0000 (XML forbids the character), and libplist
        // takes strings as C strings: a value read from a binary file keeps its text up to it.
        const QString x = a.toString();
        return x.left(x.indexOf(QChar(u'\0'))) == b.toString();
    }
    default:
        return a == b;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QString original = QDir(Fuzz::ScratchDir()).filePath(QStringLiteral("zetapp.plist"));
    const QString rewritten = QDir(Fuzz::ScratchDir()).filePath(QStringLiteral("rewritten.plist"));
    WriteFile(original, bytes);
    WriteFile(rewritten, bytes);

    const MConfig config(original);
    // libplist itself cannot list the keys of every file the store refuses.
    QStringList keys = config.hasDictionary() ? KeysOf(bytes) : QStringList();
    keys << QStringLiteral("Host") << QStringLiteral("OnlineOneNoteAccessToken");
    for (const QString &key : keys) {
        (void)config.ReadValueDefStr(key, QStringLiteral("default"));
        (void)config.ReadValueDefBool(key, true);
        (void)config.ReadValueDefInt(key, -7);
        (void)config.ReadValueDefDate(key, QDate(2001, 2, 3));
    }

    MConfig writer(rewritten);
    writer.WriteValueStr(QStringLiteral("Host"), QStringLiteral("127.0.0.1:1"));
    FUZZ_CHECK(writer.Save());
    if (!config.hasDictionary()) {
        FUZZ_CHECK(ReadFile(rewritten + QStringLiteral(".damaged")) == bytes);
        QFile::remove(rewritten + QStringLiteral(".damaged"));
    }

    const MConfig reread(rewritten);
    FUZZ_CHECK(reread.hasDictionary());
    FUZZ_CHECK(reread.ReadValueDefStr(QStringLiteral("Host"), {}).toString()
               == QLatin1String("127.0.0.1:1"));
    for (const QString &key : keys) {
        if (key == QLatin1String("Host"))
            continue;
        const QVariant before = config.ReadValueDefStr(key, QStringLiteral("absent"));
        const QVariant after = reread.ReadValueDefStr(key, QStringLiteral("absent"));
        if (!Same(before, after)) {
            std::fprintf(stderr, "key \"%s\": %s before, %s after saving\n", qPrintable(key),
                         qPrintable(QDebugText(before)), qPrintable(QDebugText(after)));
            FUZZ_CHECK(Same(before, after));
        }
    }
    return 0;
}
