#include "MOnlineAdapters.h"

#include "onenote/ClipFun.h"
#include "online/MThreadOnlineOneNote.h"
#include "platform/IDesktopAutomation.h"
#include "util/MAlert.h"
#include "util/MStrings.h"

#include <QThread>

namespace Cogitra {

std::shared_ptr<MThreadOnlineOneNote> g_Worker;

MPageDiscovery::MPageDiscovery(IDesktopAutomation &automation, IClipboard &clipboard)
    : m_Automation(automation)
    , m_Clipboard(clipboard)
    , m_CurrentPage(automation, clipboard)
{}

MPageDiscovery::~MPageDiscovery()
{
    JoinScript();
    if (m_Borrowed)
        m_Clipboard.setContents(*m_Borrowed);
}

bool MPageDiscovery::GetCurrentOneNotePageInfo(OneNotePageInfo &page)
{
    const QString failure = m_CurrentPage.ReadCurrentPage(page);
    TellFailure(failure);
    return failure.isEmpty();
}

void MPageDiscovery::TellFailure(const QString &failure)
{
    // Nothing answered at all: the caller offers the picker and the link field with it.
    m_Untold = failure == u"errGetPageLink" ? failure : QString();
    if (!failure.isEmpty() && m_Untold.isEmpty())
        ShowMessage(LocalizedString(failure));
}

void MPageDiscovery::DiscoverCurrentPage(IPageDiscovery::Answer answer)
{
    JoinScript();
    m_Borrowed = BorrowClipboard(m_Clipboard);
    m_Answer = std::move(answer);
    m_Script = std::thread([this] {
        m_Automation.RunAppleScript(KeystrokeScript());
        QMetaObject::invokeMethod(
            &m_Receiver, [this] { Deliver(); }, Qt::QueuedConnection);
    });
}

void MPageDiscovery::Deliver()
{
    JoinScript();
    if (!m_Borrowed)
        return;
    const std::optional<QString> clip = ReturnClipboard(m_Clipboard, *m_Borrowed);
    m_Borrowed.reset();
    OneNotePageInfo page;
    const QString failure = MCurrentPage::ReadPageLink(clip.value_or(QString()), page);
    TellFailure(failure);
    if (IPageDiscovery::Answer answer = std::exchange(m_Answer, nullptr))
        answer(failure.isEmpty(), page);
}

void MPageDiscovery::JoinScript()
{
    if (m_Script.joinable())
        m_Script.join();
}

MPostedClipboard::MPostedClipboard(IClipboard &target)
    : m_Target(target)
{}

bool MPostedClipboard::onOwnThread() const
{
    return QThread::currentThread() == m_Receiver.thread();
}

void MPostedClipboard::Post(std::function<void()> write)
{
    if (onOwnThread())
        write();
    else
        QMetaObject::invokeMethod(&m_Receiver, std::move(write), Qt::QueuedConnection);
}

ClipboardContents MPostedClipboard::contents() const
{
    return onOwnThread() ? m_Target.contents() : ClipboardContents();
}

void MPostedClipboard::setContents(const ClipboardContents &contents)
{
    Post([this, contents] { m_Target.setContents(contents); });
}

void MPostedClipboard::clear()
{
    Post([this] { m_Target.clear(); });
}

std::optional<QString> MPostedClipboard::text() const
{
    return onOwnThread() ? m_Target.text() : std::nullopt;
}

void MPostedClipboard::setText(const QString &text)
{
    Post([this, text] { m_Target.setText(text); });
}

MOnlineRunner::~MOnlineRunner()
{
    WaitForRun();
}

void MOnlineRunner::Run(const MWorkerProperties &properties)
{
    g_Worker = MThreadOnlineOneNote::Create(properties);
    g_Worker->Run(m_Finished);
}

void MOnlineRunner::WaitForRun()
{
    if (g_Worker)
        g_Worker->Wait();
}

} // namespace Cogitra
