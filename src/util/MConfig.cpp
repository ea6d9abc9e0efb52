#include "MConfig.h"

#include "MAssert.h"
#include "MLimits.h"

#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QSaveFile>
#include <QTimeZone>

#include <plist/plist.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace Cogitra {

namespace {

// Deeper than any configuration would be.
constexpr int kMaxDepth = 64;

// The lock files this thread holds through an MConfigLock.
thread_local std::vector<QString> t_HeldLocks;

// Property-list dates count seconds from 2001-01-01 00:00:00 UTC.
constexpr qint64 kPlistEpochOffset = 978307200;

struct PlistDeleter
{
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

struct MallocDeleter
{
    void operator()(char *p) const { std::free(p); }
};
using MallocPtr = std::unique_ptr<char, MallocDeleter>;

// Converts a node to the Qt type that writes back to the same node type. Fails on a
// structure nested deeper than any configuration would be.
bool NodeToVariant(plist_t node, int depth, QVariant &out)
{
    if (depth > kMaxDepth)
        return false;
    switch (plist_get_node_type(node)) {
    case PLIST_STRING:
    case PLIST_KEY: {
        uint64_t length = 0;
        const char *text = plist_get_string_ptr(node, &length);
        out = text ? QString::fromUtf8(text, static_cast<qsizetype>(length)) : QString();
        return true;
    }
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        out = value != 0;
        return true;
    }
    case PLIST_UINT: {
        // libplist keeps every integer as uint64; a property-list integer is signed 64-bit,
        // so the bits are reinterpreted.
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        out = QVariant::fromValue(static_cast<qint64>(value));
        return true;
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        out = value;
        return true;
    }
    case PLIST_DATE: {
        int32_t sec = 0;
        int32_t usec = 0;
        plist_get_date_val(node, &sec, &usec);
        const qint64 ms = (kPlistEpochOffset + sec) * 1000 + usec / 1000;
        out = QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc());
        return true;
    }
    case PLIST_DATA: {
        char *bytes = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &bytes, &length);
        const MallocPtr owned(bytes);
        out = QByteArray(bytes, static_cast<qsizetype>(length));
        return true;
    }
    case PLIST_UID: {
        uint64_t value = 0;
        plist_get_uid_val(node, &value);
        out = QVariant::fromValue(static_cast<quint64>(value));
        return true;
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t size = plist_array_get_size(node);
        for (uint32_t i = 0; i < size; ++i) {
            QVariant item;
            if (!NodeToVariant(plist_array_get_item(node, i), depth + 1, item))
                return false;
            list.append(item);
        }
        out = list;
        return true;
    }
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        const uint32_t size = plist_dict_get_size(node);
        for (uint32_t i = 0; i < size; ++i) {
            char *key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            const MallocPtr ownedKey(key);
            if (!key || !value)
                break;
            QVariant item;
            if (!NodeToVariant(value, depth + 1, item)) {
                std::free(it);
                return false;
            }
            map.insert(QString::fromUtf8(key), item);
        }
        std::free(it);
        out = map;
        return true;
    }
    case PLIST_NONE:
        break;
    }
    return false;
}

plist_t VariantToNode(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return plist_new_bool(value.toBool() ? 1 : 0);
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
        return plist_new_uint(static_cast<uint64_t>(value.toLongLong()));
    case QMetaType::ULongLong:
        return plist_new_uid(value.toULongLong());
    case QMetaType::Double:
        return plist_new_real(value.toDouble());
    case QMetaType::QDateTime: {
        const qint64 ms = value.toDateTime().toMSecsSinceEpoch() - kPlistEpochOffset * 1000;
        qint64 sec = ms / 1000;
        qint64 msRest = ms % 1000;
        if (msRest < 0) {
            msRest += 1000;
            --sec;
        }
        return plist_new_date(static_cast<int32_t>(sec), static_cast<int32_t>(msRest * 1000));
    }
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return plist_new_data(bytes.constData(), static_cast<uint64_t>(bytes.size()));
    }
    case QMetaType::QVariantList: {
        plist_t array = plist_new_array();
        for (const QVariant &item : value.toList())
            plist_array_append_item(array, VariantToNode(item));
        return array;
    }
    case QMetaType::QVariantMap: {
        plist_t dict = plist_new_dict();
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            plist_dict_set_item(dict, it.key().toUtf8().constData(), VariantToNode(it.value()));
        return dict;
    }
    case QMetaType::QString:
        break;
    default:
        COGITRA_ASSERT(false, break);
    }
    return plist_new_string(value.toString().toUtf8().constData());
}

// libplist ends the process on an assertion when a dictionary key holding U+0000 is read,
// and a binary property list can carry one. Its XML writer copies such a key out whole, and
// it escapes "<" in text, so a zero byte inside a <key> element of the XML form finds it.
bool HasKeyWithNul(plist_t root)
{
    char *xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    if (!xml)
        return true;
    bool inKey = false;
    bool found = false;
    for (uint32_t i = 0; i < length && !found; ++i) {
        if (xml[i] == '<')
            inKey = length - i >= 5 && std::memcmp(xml + i, "<key>", 5) == 0;
        else if (xml[i] == '\0')
            found = inKey;
    }
    plist_to_xml_free(xml);
    return found;
}

std::optional<QVariantMap> ReadDictionary(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxConfigBytes)
        return std::nullopt;
    // Reading up to the limit would reserve the whole limit for every read of a file of a
    // few hundred bytes; one byte past the size tells a file that grew meanwhile.
    const QByteArray bytes = file.read(std::min(file.size(), kMaxConfigBytes) + 1);
    if (bytes.isEmpty() || bytes.size() > kMaxConfigBytes)
        return std::nullopt;
    plist_t rootNode = nullptr;
    plist_from_memory(bytes.constData(), static_cast<uint32_t>(bytes.size()), &rootNode);
    const PlistPtr root(rootNode);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT || HasKeyWithNul(root.get()))
        return std::nullopt;
    QVariant converted;
    if (!NodeToVariant(root.get(), 0, converted))
        return std::nullopt;
    return converted.toMap();
}

// A text's integer reading: leading white space, an optional sign, then decimal digits up
// to the first other character; no digits read as 0, and an overflow saturates.
int64_t IntegerReading(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == u'+' || text.at(i) == u'-')) {
        negative = text.at(i) == u'-';
        ++i;
    }
    uint64_t magnitude = 0;
    const uint64_t limit = negative ? uint64_t(std::numeric_limits<int64_t>::max()) + 1
                                    : uint64_t(std::numeric_limits<int64_t>::max());
    for (; i < text.size() && text.at(i) >= u'0' && text.at(i) <= u'9'; ++i) {
        const uint64_t digit = text.at(i).unicode() - u'0';
        if (magnitude > (limit - digit) / 10) {
            magnitude = limit;
            break;
        }
        magnitude = magnitude * 10 + digit;
    }
    if (negative)
        return magnitude == limit ? std::numeric_limits<int64_t>::min()
                                  : -static_cast<int64_t>(magnitude);
    return static_cast<int64_t>(magnitude);
}

// A text's boolean reading: after white space, a sign and leading zeros, true when the
// next character is Y, y, T, t or a digit 1-9.
bool BooleanReading(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    if (i < text.size() && (text.at(i) == u'+' || text.at(i) == u'-'))
        ++i;
    while (i < text.size() && text.at(i) == u'0')
        ++i;
    if (i >= text.size())
        return false;
    const QChar c = text.at(i);
    return c == u'Y' || c == u'y' || c == u'T' || c == u't' || (c >= u'1' && c <= u'9');
}

std::optional<QDate> ParseDate(const QString &text)
{
    if (text.size() != 8)
        return std::nullopt;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    const QDate date(text.left(4).toInt(), text.mid(4, 2).toInt(), text.mid(6, 2).toInt());
    if (!date.isValid())
        return std::nullopt;
    return date;
}

} // namespace

MConfig::MConfig(const QString &fileName)
    : m_FileName(fileName)
{
    if (QFile::exists(fileName)) {
        m_Dict = ReadDictionary(fileName);
        m_Damaged = !m_Dict.has_value();
    } else {
        m_Dict = QVariantMap();
    }
}

QVariantMap &MConfig::WritableDict()
{
    // A damaged file reads as defaults; the first write starts a new dictionary, so that
    // a sign-in can still be saved instead of being lost at every start.
    if (!m_Dict)
        m_Dict = QVariantMap();
    return *m_Dict;
}

const QVariant *MConfig::Find(const QString &key) const
{
    if (!m_Dict)
        return nullptr;
    const auto it = m_Dict->constFind(key);
    return it == m_Dict->cend() ? nullptr : &it.value();
}

QVariant MConfig::ReadValueDefStr(const QString &key, const QVariant &def) const
{
    const QVariant *value = Find(key);
    return value ? *value : def;
}

bool MConfig::ReadValueDefBool(const QString &key, bool def) const
{
    const QVariant *found = Find(key);
    if (!found)
        return def;
    const QVariant &value = *found;
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return value.toLongLong() != 0;
    case QMetaType::Double:
        return value.toDouble() != 0.0;
    case QMetaType::QString:
        return BooleanReading(value.toString());
    default:
        return def;
    }
}

int64_t MConfig::ReadValueDefInt(const QString &key, int64_t def) const
{
    const QVariant *found = Find(key);
    if (!found)
        return def;
    const QVariant &value = *found;
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? 1 : 0;
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return value.toLongLong();
    case QMetaType::Double: {
        const double d = value.toDouble();
        if (!(d == d))
            return 0;
        if (d >= 9223372036854775807.0)
            return std::numeric_limits<int64_t>::max();
        if (d <= -9223372036854775808.0)
            return std::numeric_limits<int64_t>::min();
        return static_cast<int64_t>(d);
    }
    case QMetaType::QString:
        return IntegerReading(value.toString());
    default:
        return def;
    }
}

std::optional<QDate> MConfig::ReadValueDefDate(const QString &key, std::optional<QDate> def) const
{
    const QVariant *value = Find(key);
    if (!value)
        return def;
    if (value->typeId() != QMetaType::QString)
        return std::nullopt;
    return ParseDate(value->toString());
}

void MConfig::WriteValueStr(const QString &key, const QString &value)
{
    // A null text is still a text: the key is present afterwards and saves as "".
    WritableDict().insert(key, QVariant(value));
}

void MConfig::WriteValueList(const QString &key, const QVariantList &value)
{
    WritableDict().insert(key, QVariant(value));
}

void MConfig::WriteValueInt(const QString &key, int64_t value)
{
    WritableDict().insert(key, QVariant::fromValue(static_cast<qint64>(value)));
}

void MConfig::WriteValueBool(const QString &key, bool value)
{
    WritableDict().insert(key, value);
}

void MConfig::WriteValueDate(const QString &key, const QDate &value)
{
    // Years outside four digits would not read back through the eight-digit layout.
    COGITRA_ASSERT(value.isValid() && value.year() >= 1 && value.year() <= 9999, return );
    WritableDict().insert(key, value.toString(QStringLiteral("yyyyMMdd")));
}

void MConfig::RemoveValue(const QString &key)
{
    WritableDict().remove(key);
}

bool MConfig::Save()
{
    if (!m_Dict)
        return false;
    const PlistPtr root(VariantToNode(*m_Dict));
    char *xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root.get(), &xml, &length);
    if (!xml)
        return false;
    const QByteArray bytes(xml, static_cast<qsizetype>(length));
    plist_to_xml_free(xml);

    if (m_Damaged) {
        // Keep the unreadable file beside the new one rather than destroy what it held.
        const QString kept = m_FileName + QStringLiteral(".damaged");
        QFile::remove(kept);
        QFile::rename(m_FileName, kept);
    }

    QSaveFile file(m_FileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // The file holds the account's tokens: owner only, also when an older file was not.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return false;
    if (file.write(bytes) != bytes.size())
        return false;
    if (!file.commit())
        return false;
    m_Damaged = false;
    return true;
}

MConfigLock::MConfigLock(const QString &configFile)
    : m_Path(configFile + QStringLiteral(".lock"))
{
    // QLockFile is not recursive: a save inside a token renewal would wait for itself.
    if (std::find(t_HeldLocks.cbegin(), t_HeldLocks.cend(), m_Path) != t_HeldLocks.cend()) {
        m_Nested = true;
        return;
    }
    m_Lock = std::make_unique<QLockFile>(m_Path);
    m_Lock->setStaleLockTime(kStale);
    if (m_Lock->tryLock(kWait))
        t_HeldLocks.push_back(m_Path);
    else if (m_Lock->error() == QLockFile::LockFailedError)
        qWarning().noquote() << "The configuration is locked by another program; going on:"
                             << m_Path;
}

MConfigLock::~MConfigLock()
{
    if (!m_Lock || !m_Lock->isLocked())
        return;
    m_Lock->unlock();
    std::erase(t_HeldLocks, m_Path);
}

} // namespace Cogitra
