#pragma once

#include <QDate>
#include <QLockFile>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

// The configuration property list. Reads XML and binary property lists, writes XML,
// saves atomically. A file that is not a property-list dictionary leaves the store
// without a dictionary: reads give their defaults and the file stays as it is until a
// store that was written to saves; that save keeps the damaged file as
// "<name>.damaged" and writes a new one.
namespace Cogitra {

class MConfig
{
public:
    explicit MConfig(const QString &fileName); // initWith:

    [[nodiscard]] QVariant ReadValueDefStr(const QString &key, const QVariant &def) const;
    [[nodiscard]] bool ReadValueDefBool(const QString &key, bool def) const;
    [[nodiscard]] int64_t ReadValueDefInt(const QString &key, int64_t def) const;
    // Present but unparseable gives no date (std::nullopt), not the default.
    [[nodiscard]] std::optional<QDate> ReadValueDefDate(const QString &key,
                                                        std::optional<QDate> def) const;

    void WriteValueStr(const QString &key, const QString &value); // null: ""
    void WriteValueInt(const QString &key, int64_t value);
    void WriteValueBool(const QString &key, bool value);
    void WriteValueDate(const QString &key, const QDate &value);
    // An array of dictionaries of texts and numbers, for lists kept in the configuration.
    void WriteValueList(const QString &key, const QVariantList &value);
    void RemoveValue(const QString &key);

    // Atomic write of the whole dictionary (file mode 0600). Failure is silent to
    // callers of the system; the result is there for tests and diagnostics.
    bool Save();

    [[nodiscard]] bool hasDictionary() const { return m_Dict.has_value(); }
    [[nodiscard]] const QString &fileName() const { return m_FileName; }

private:
    QVariantMap &WritableDict();
    // The stored value of key, or null when the key or the whole dictionary is missing.
    [[nodiscard]] const QVariant *Find(const QString &key) const;

    QString m_FileName;
    std::optional<QVariantMap> m_Dict;
    bool m_Damaged = false;
};

// Holds "<configuration>.lock" for one read-modify-write of the configuration, so that the
// application, its worker and cogitra-cli never save over each other's keys. Waits for
// another holder for up to kWait; a lock left by a program that died is taken over at once,
// one held longer than kStale by a program that hangs is taken over then. Nested scopes on
// one thread share the outer scope's lock.
class MConfigLock
{
public:
    // A token renewal (a few seconds, ten at most) is the longest a lock is held.
    static constexpr std::chrono::milliseconds kWait{25000};
    static constexpr std::chrono::milliseconds kStale{30000};

    explicit MConfigLock(const QString &configFile);
    ~MConfigLock();
    MConfigLock(const MConfigLock &) = delete;
    MConfigLock &operator=(const MConfigLock &) = delete;

    // False when another program kept the lock beyond kWait: the caller goes on without it
    // rather than lose what it was to save.
    [[nodiscard]] bool isLocked() const { return m_Nested || (m_Lock && m_Lock->isLocked()); }

private:
    QString m_Path;
    std::unique_ptr<QLockFile> m_Lock;
    bool m_Nested = false;
};

} // namespace Cogitra
