#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

// The service's list replies, kept as files directly in g_CacheDir. A file is fresh for
// a number of minutes after its modification time; it is replaced by the next fetched
// reply and never deleted.
namespace Cogitra {

inline constexpr auto k_NotebookTreeCacheFile = "NotebooksSeccions.json";
inline constexpr int64_t k_NotebookTreeFreshMinutes = 6;
inline constexpr int64_t k_PageListFreshMinutes = 3;

// The file's content when it exists, is younger than the given minutes and is valid UTF-8.
[[nodiscard]] std::optional<QByteArray> LoadFromCacheFile(const QString &fileName, int64_t minutes);
// Writes the reply atomically. A reply that is not valid UTF-8 writes nothing; a failed
// write is ignored.
void SaveToCacheFile(const QString &fileName, const QByteArray &reply);

// A name made from a service id must stay a plain file name inside the cache folder.
[[nodiscard]] bool IsSafeCacheFileName(const QString &fileName);

} // namespace Cogitra
