#pragma once

#include <cstdint>

// The stages of an open or save run, as g_StepCode holds them. Negative codes belong to
// opening, positive ones to saving; 10 and 11 come from page location, which both use.
// The values are shown to the user (progress window, cogitra-cli) and never change.
namespace Cogitra::Step {

inline constexpr int64_t Idle = 0;
inline constexpr int64_t NoCurrentPage = -99; // launch found no page: the editor starts empty

inline constexpr int64_t ListingNotebooks = 10;
inline constexpr int64_t SearchingNotebooks = 11;

inline constexpr int64_t OpenRequested = -1;
inline constexpr int64_t OpenLocating = -2;
inline constexpr int64_t OpenLocateFailed = -20;
inline constexpr int64_t OpenReadingPage = -21;
inline constexpr int64_t OpenFindingMap = -22;
inline constexpr int64_t OpenDownloadingMap = -23;
inline constexpr int64_t OpenReadingMap = -24;
inline constexpr int64_t OpenDone = -100;
// A finished run at this code or below has a map (maybe empty) for the editor.
inline constexpr int64_t HandOverAtOrBelow = -6;

inline constexpr int64_t SaveRequested = 1;
inline constexpr int64_t SaveLocating = 2;
inline constexpr int64_t SaveLocateFailed = 20;
inline constexpr int64_t SavePageKnown = 21;
inline constexpr int64_t SaveReadingPage = 22;
inline constexpr int64_t SaveFindingImages = 23;
inline constexpr int64_t SaveUploadingPreview = 24;
// The page holds a map this editor has not seen: nothing was written, the user decides.
inline constexpr int64_t SaveUnseenMap = 26;
inline constexpr int64_t SavePackingMap = 25;
inline constexpr int64_t SaveUploadingMap = 30;
inline constexpr int64_t SaveDone = 100;

[[nodiscard]] constexpr bool IsOpening(int64_t step)
{
    return step >= OpenDone && step <= OpenRequested;
}
[[nodiscard]] constexpr bool IsSaving(int64_t step)
{
    return step >= SaveRequested && step <= SaveDone;
}

} // namespace Cogitra::Step

namespace Cogitra {

// The key of the text that tells the user what happens at step, in words; none for the
// codes that name no stage of a run (idle, no current page, unknown codes).
[[nodiscard]] const char *StepTextKey(int64_t step);

// A run failed at step in a way the user must be told about: the step code stays there,
// and the status loop shows the text of key once (g_ErrorCode, g_ErrorMessageKey).
void RecordRunFailure(int64_t step, const char *key);

} // namespace Cogitra
