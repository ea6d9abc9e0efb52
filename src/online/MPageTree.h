#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The signed-in account's notebooks, sections and pages, read as the page locator reads them
// (its requests, its cache files and their freshness), for a person or a script to choose a
// page from. Runs on a worker's thread, never the interface's.
namespace Cogitra {

struct MOnlineClients;

struct MTreePage
{
    QString title;
    QString link; // the page's oneNoteClientUrl: what the page-link reader takes
};

struct MTreeSection
{
    QString name;
    QStringList groups; // the section groups it lies in, outermost first
    QList<MTreePage> pages;
};

struct MTreeNotebook
{
    QString name;
    QList<MTreeSection> sections;
};

struct MPageTree
{
    enum class Failure { None, Notebooks, PageLists, TooManyPages };

    QList<MTreeNotebook> notebooks;
    Failure failure = Failure::None;
    // The text key of a failed read (Notebooks, PageLists).
    QString failureKey;
};

struct MPageTreeRequest
{
    QString notebook; // exact names; empty: all
    QString section;
    // Past fresh cache files: a page made since they were written shows.
    bool fetchAnew = false;
};

// What is listed at most in all; past it the reader stops and asks for a narrower request.
inline constexpr int k_MaxListedPages = 20000;

// A page list that cannot be read whole fails the whole tree: a section that silently lacks
// pages would mislead. A section filter leaves out the notebooks without such a section.
[[nodiscard]] MPageTree ReadPageTree(MOnlineClients &clients, const MPageTreeRequest &request);

} // namespace Cogitra
