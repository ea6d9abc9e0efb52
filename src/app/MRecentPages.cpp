#include "MRecentPages.h"

#include "util/MConfig.h"
#include "util/MGlobals.h"

#include <QVariantList>
#include <QVariantMap>

#include <functional>

namespace Cogitra {
namespace {

const QString kKeyRecentPages = QStringLiteral("RecentPages");

// Stored field names; a new field may be added, none renamed.
const QString kTitle = QStringLiteral("Title");
const QString kNotebook = QStringLiteral("Notebook");
const QString kSection = QStringLiteral("Section");
const QString kAccount = QStringLiteral("AccountId");
const QString kPage = QStringLiteral("PageClientId");
const QString kLink = QStringLiteral("Link");

bool SamePage(const OneNotePageInfo &a, const OneNotePageInfo &b)
{
    return a.clientId.compare(b.clientId, Qt::CaseInsensitive) == 0
           && a.accountId.compare(b.accountId, Qt::CaseInsensitive) == 0;
}

QList<OneNotePageInfo> ReadList(const MConfig &config)
{
    QList<OneNotePageInfo> pages;
    for (const QVariant &entry : config.ReadValueDefStr(kKeyRecentPages, QVariant()).toList()) {
        if (entry.typeId() != QMetaType::QVariantMap)
            continue;
        const QVariantMap fields = entry.toMap();
        OneNotePageInfo page;
        page.title = fields.value(kTitle).toString();
        page.notebookName = fields.value(kNotebook).toString();
        page.sectionName = fields.value(kSection).toString();
        page.accountId = fields.value(kAccount).toString();
        page.clientId = fields.value(kPage).toString();
        page.link = fields.value(kLink).toString();
        // Without its id and account no page can be found again.
        if (page.clientId.isEmpty() || page.accountId.isEmpty() || pages.size() >= k_MaxRecentPages)
            continue;
        pages.append(page);
    }
    return pages;
}

void ChangeList(const std::function<void(QList<OneNotePageInfo> &)> &change)
{
    const QString fileName = g_ConfigFile.get();
    const MConfigLock lock(fileName);
    MConfig config(fileName);
    QList<OneNotePageInfo> pages = ReadList(config);
    change(pages);
    QVariantList list;
    for (const OneNotePageInfo &page : pages)
        list.append(QVariantMap{{kTitle, page.title},
                                {kNotebook, page.notebookName},
                                {kSection, page.sectionName},
                                {kAccount, page.accountId},
                                {kPage, page.clientId},
                                {kLink, page.link}});
    config.WriteValueList(kKeyRecentPages, list);
    (void)config.Save();
}

} // namespace

QList<OneNotePageInfo> LoadRecentPages()
{
    return ReadList(MConfig(g_ConfigFile.get()));
}

void RememberRecentPage(const OneNotePageInfo &page)
{
    if (page.clientId.isEmpty() || page.accountId.isEmpty())
        return;
    ChangeList([&page](QList<OneNotePageInfo> &pages) {
        pages.removeIf([&page](const OneNotePageInfo &old) { return SamePage(old, page); });
        pages.prepend(page);
        while (pages.size() > k_MaxRecentPages)
            pages.removeLast();
    });
}

void ForgetRecentPage(const OneNotePageInfo &page)
{
    ChangeList([&page](QList<OneNotePageInfo> &pages) {
        pages.removeIf([&page](const OneNotePageInfo &old) { return SamePage(old, page); });
    });
}

} // namespace Cogitra
