#pragma once

#include <QString>

#include <atomic>
#include <cstdint>
#include <mutex>

// The process-wide values through which the main thread, the sign-in window and the
// worker meet. Each text is replaced whole under its own lock, so a reader sees the old
// or the new text, never a torn one. The worker stores its results and then publishes
// g_WorkerFinished = 1 with release ordering; the main thread reads the flag with
// acquire ordering before it reads any result, so a run's results are complete once the
// flag is seen.
namespace Cogitra {

class SharedText
{
public:
    SharedText() = default;
    explicit SharedText(QString initial)
        : m_Value(std::move(initial))
    {}
    SharedText(const SharedText &) = delete;
    SharedText &operator=(const SharedText &) = delete;

    [[nodiscard]] QString get() const
    {
        std::scoped_lock lock(m_Mutex);
        return m_Value;
    }
    void set(QString value)
    {
        std::scoped_lock lock(m_Mutex);
        m_Value = std::move(value);
    }
    [[nodiscard]] bool isEmpty() const
    {
        std::scoped_lock lock(m_Mutex);
        return m_Value.isEmpty();
    }

private:
    mutable std::mutex m_Mutex;
    QString m_Value;
};

extern SharedText g_ConfigFile; // "zetapp.plist" until InitGlobals
extern SharedText g_AppDataDir;
extern SharedText g_CacheDir;

extern SharedText g_AccessToken;
extern SharedText g_RefreshToken;
extern SharedText g_AccountId;
extern SharedText g_UserId;
extern SharedText g_UserPrincipalName;
extern SharedText g_Host;
extern SharedText g_AuthCode;
extern SharedText g_ErrorMessageKey;
extern SharedText g_DownloadedMapJson;
extern SharedText g_OnlinePageId;
extern SharedText g_PageTitle;
// The address of the map on g_OnlinePageId as the last open read it or the last save left
// it; empty when the page held none or the save could not read it back.
extern SharedText g_MapAddress;

// The application's registered client id (build-time constant COGITRA_CLIENT_ID).
[[nodiscard]] QString ClientId();

extern std::atomic<int64_t> g_StepCode;
extern std::atomic<int64_t> g_ErrorCode;
extern std::atomic<uint8_t> g_WorkerFinished;
// While the worker waits out a busy service: when its next try is due (milliseconds since
// the epoch); 0 otherwise. Written by the worker, read by the status loop.
extern std::atomic<int64_t> g_NextTryAtMs;

// Release store of g_WorkerFinished = 1: everything the worker stored before is visible
// to a thread that sees the flag through WorkerFinished().
void PublishWorkerFinished();
// Marks a run as in progress (g_WorkerFinished = 0), before a worker starts.
void MarkWorkerStarted();
[[nodiscard]] bool WorkerFinished();

// Builds the data folder (mode 0700) and cache folder, sets the three paths, then
// LoadAccountState and ChooseDefaultHost. dataRoot overrides the Application Support
// folder (tests, COGITRA_DATA_ROOT); empty means the platform's own.
void InitGlobals(const QString &dataRoot = QString());
void LoadAccountState();
// Writes the five account keys under the configuration's lock. When another program has
// renewed the tokens since this one last read or wrote them, and this one has not renewed
// its own since, the file's tokens are newer: they are taken and kept, not written over.
void SaveAccountState();
// Takes the tokens that another program has saved since this one last read or wrote the
// file; call under an MConfigLock, before a refresh token is used (each is spent by its
// use). Returns whether tokens were taken.
bool AdoptRenewedTokens();
void ChooseDefaultHost();
// The editor host chosen in the host window, as stored for the next start; the empty text
// when the application serves its built-in editor.
[[nodiscard]] QString ChosenEditorHost();
// Stores that the built-in editor is to be used (removes "Host") and makes it g_Host.
bool ForgetChosenEditorHost();

// The editor page address "http://%@/km/v1.0/%@/index-mac.html" for a host and the
// "local" text.
[[nodiscard]] QString EditorPageUrl(const QString &host, const QString &local);

// Default editor hosts; the application replaces them with its embedded editor host's
// address when it serves the editor page itself.
void SetDefaultEditorHosts(const QString &defaultHost, const QString &cnHost);

// Restores every shared value to its initial value (tests).
void ResetGlobalsForTesting();

} // namespace Cogitra
