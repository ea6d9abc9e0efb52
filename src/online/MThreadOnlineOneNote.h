#pragma once

#include "MWorkerProperties.h"

#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// The background worker of the online notebook client. Each open or save command makes
// one, with its inputs fixed at construction, and calls Run: on a thread of its own the
// worker makes sure a token and the Graph user id are present, then runs one job — the
// open job (GetCogitra) or the save job (PutCogitra). It never touches the interface: it
// reports through the shared values (step code, error code and key, page id, page title,
// downloaded JSON) and publishes g_WorkerFinished = 1 last, with release ordering.
namespace Cogitra {

class MThreadOnlineOneNote : public std::enable_shared_from_this<MThreadOnlineOneNote>
{
    struct Private;

public:
    [[nodiscard]] static std::shared_ptr<MThreadOnlineOneNote> Create(MWorkerProperties properties);
    MThreadOnlineOneNote(Private, MWorkerProperties properties);
    ~MThreadOnlineOneNote();
    MThreadOnlineOneNote(const MThreadOnlineOneNote &) = delete;
    MThreadOnlineOneNote &operator=(const MThreadOnlineOneNote &) = delete;

    // Starts the thread and returns at once. The thread keeps the worker alive until the
    // job has returned, so the caller may drop its reference. A worker is started once;
    // later calls do nothing. finished, when given, is called on the worker's thread once
    // the run has published its end.
    void Run(std::function<void()> finished = {});
    // Blocks until the thread has ended (tests, shutdown). Not from the worker's thread.
    void Wait();

    [[nodiscard]] bool DownloadCogitra() const { return m_Properties.DownloadCogitra; }
    [[nodiscard]] const OneNotePageInfo &Page() const { return m_Properties.Page; }
    [[nodiscard]] const QString &AccountId() const { return m_Properties.Page.accountId; }
    [[nodiscard]] const QString &CurrentPageClientId() const { return m_Properties.Page.clientId; }
    [[nodiscard]] const QString &CurrentPageTitle() const { return m_Properties.Page.title; }
    [[nodiscard]] const QString &CurrentNotebookName() const
    {
        return m_Properties.Page.notebookName;
    }
    [[nodiscard]] const QString &CurrentSectionName() const
    {
        return m_Properties.Page.sectionName;
    }
    [[nodiscard]] const QString &CurrentPageLink() const { return m_Properties.Page.link; }
    [[nodiscard]] const QString &CogitraJsonForUpload() const
    {
        return m_Properties.CogitraJsonForUpload;
    }
    [[nodiscard]] const QString &CogitraImageBase64ForUpload() const
    {
        return m_Properties.CogitraImageBase64ForUpload;
    }

private:
    struct Private
    {
        explicit Private() = default;
    };

    void ThreadRun();

    const MWorkerProperties m_Properties;
    std::mutex m_ThreadMutex;
    bool m_Started = false;
    std::function<void()> m_Finished;
    std::thread m_Thread;
};

} // namespace Cogitra
