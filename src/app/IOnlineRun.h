#pragma once

#include <QString>

namespace Cogitra {

// The properties of one worker run, in the order the worker receives them.
struct OnlineRunRequest
{
    bool downloadCogitra = false;
    QString accountId;
    QString currentPageTitle;
    QString currentPageClientId;
    QString currentNotebookName;
    QString currentSectionName;
    QString currentPageLink;
    QString cogitraJsonForUpload;        // save only
    QString cogitraImageBase64ForUpload; // save only
};

// Starts the background worker of one open or save run; returns at once.
class IOnlineRun
{
public:
    virtual ~IOnlineRun() = default;
    virtual void Run(const OnlineRunRequest &request) = 0;
};

} // namespace Cogitra
