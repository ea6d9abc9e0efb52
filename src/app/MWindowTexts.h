#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

// The texts and addresses of the progress, host selection and About windows, kept apart
// from the widgets that show them.
namespace Cogitra {

// Progress window: the action text for a step code and the worker's finished flag; while
// the worker waits out a busy OneNote, when its next try is.
[[nodiscard]] QString StateActionText(int64_t stepCode, bool workerFinished);
// While the worker waits out a busy OneNote: whole seconds (at least 1) to its next try.
[[nodiscard]] std::optional<int64_t> SecondsToNextTry();
// What happens at the step, in words; empty for a code that names no stage.
[[nodiscard]] QString StateStepText(int64_t stepCode);

// The maker's web site: COGITRA_MAKER_ROOT, without a trailing slash.
[[nodiscard]] QString MakerRoot();
[[nodiscard]] QString HostsListUrl();
// Every piece between line feeds is one entry, unchanged: nothing is trimmed.
[[nodiscard]] QStringList SplitHostsList(const QString &text);
// GET with a time-out; the reply body as UTF-8 whatever its status, nothing on a
// transport failure. Blocks the calling thread.
[[nodiscard]] std::optional<QString> DownloadText(const QString &url, long timeoutSeconds);

// About window: the "strVersion" text, a blank and the application's version.
[[nodiscard]] QString AboutVersionLine();
[[nodiscard]] QString WebsiteUrl();
[[nodiscard]] QString SupportMailto();

} // namespace Cogitra
