#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

// The service's list replies, kept as files directly in g_CacheDir. A file is fresh for
// a number of minutes after its modification time; it is replaced by the next fetched
// reply, and removed only when another account's replies are to be kept.
namespace Cogitra {

inline constexpr auto k_NotebookTreeCacheFile = "NotebooksSeccions.json";
inline constexpr int64_t k_NotebookTreeFreshMinutes = 6;
inline constexpr int64_t k_PageListFreshMinutes = 3;
// Names the account whose replies the cache holds.
inline constexpr auto k_CacheAccountFile = "account.txt";

// The file's content when it exists, is younger than the given minutes and is valid UTF-8.
[[nodiscard]] std::optional<QByteArray> LoadFromCacheFile(const QString &fileName, int64_t minutes);
// Writes the reply atomically. A reply that is not valid UTF-8 writes nothing; a failed
// write is ignored.
void SaveToCacheFile(const QString &fileName, const QByteArray &reply);

// Makes the cache the given account's (the Graph user id the replies are fetched for): when
// it was another's, or of an account unknown (written before the account was recorded), its
// replies are removed first. False when they could not all be removed: the cache must then
// be neither read nor written.
[[nodiscard]] bool KeepCacheForAccount(const QString &userId);

// A name made from a service id must stay a plain file name inside the cache folder.
[[nodiscard]] bool IsSafeCacheFileName(const QString &fileName);

} // namespace Cogitra
