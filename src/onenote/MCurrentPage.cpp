#include "MCurrentPage.h"

#include "ClipFun.h"
#include "MOLONUtils.h"
#include "util/MAlert.h"
#include "util/MLimits.h"
#include "util/MStrings.h"
#include "util/MUtils.h"

namespace Cogitra {

MCurrentPage::MCurrentPage(IDesktopAutomation &automation, IClipboard &clipboard)
    : m_Automation(automation)
    , m_Clipboard(clipboard)
{}

bool MCurrentPage::GetCurrentOneNotePageInfo(OneNotePageInfo &page)
{
    const QString failure = ReadCurrentPage(page);
    if (failure.isEmpty())
        return true;
    ShowMessage(LocalizedString(failure));
    return false;
}

QString MCurrentPage::ReadCurrentPage(OneNotePageInfo &page)
{
    const std::optional<QString> clip = CopyCurrentPageLink(m_Automation, m_Clipboard);
    return ReadPageLink(clip.value_or(QString()), page);
}

QString MCurrentPage::ReadPageLink(const QString &clip, OneNotePageInfo &page)
{
    page = OneNotePageInfo();
    const QString unusable = QStringLiteral("errGetPageLink");
    // A page link is a few hundred characters; a clipboard of megabytes is something else.
    if (clip.isEmpty() || clip.size() > kMaxLinkLength || !IsOneNoteLink(clip))
        return unusable;
    const QString link = NormalizeOneNoteLink(clip);
    // Without a section file there is no notebook or section to look the page up in.
    if (!Contains(link, QStringLiteral(".one")))
        return unusable;
    page.link = link;

    page.title = PageTitleFromLink(link);
    if (page.title.isEmpty())
        return QStringLiteral("errPageTitleEmpty");
    page.notebookName = NotebookNameFromLink(link);
    page.sectionName = SectionNameFromLink(link);
    page.accountId = AccountIdFromLink(link);
    page.clientId = PageIdFromLink(link);
    if (page.clientId.isEmpty())
        return QStringLiteral("errServerIndexing");
    return {};
}

} // namespace Cogitra
