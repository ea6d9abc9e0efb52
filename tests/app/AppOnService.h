#pragma once

#include "AppFakes.h"

#include "../online/OnlineTestSupport.h"

#include "app/MEditorScript.h"
#include "app/MOnlineAdapters.h"
#include "attachment/TZetGifAttachment.h"
#include "onenote/MOLONUtils.h"
#include "util/MUtils.h"

#include <QLoggingCategory>

// The application logic with the real worker, against the local notebook service: launched
// signed in on a page that holds a map this client wrote, the editor showing it.
namespace Cogitra::Test {

class AppOnService : public Testing::OnlineTest, public AppHarness
{
protected:
    // Call through ASSERT_NO_FATAL_FAILURE.
    void launchOnPage(const QString &map)
    {
        OnlineTest::SetUp();
        ASSERT_FALSE(HasFatalFailure());
        // The lists the client reads are written to the log; nothing to see in a test run.
        QLoggingCategory::setFilterRules(QStringLiteral("default.info=false"));
        SetLanguage(QStringLiteral("en"));
        SignIn();
        Save(m_Page.id, map, Testing::PreviewPng());
        ASSERT_EQ(mapOn(m_Page.id), map);
        selectPage(m_Page.id);

        ResetGlobalsForTesting();
        makeApp(&m_Runner);
        app->awakeFromNib(m_AppDir.path());
        g_AccessToken.set(m_AccessToken);
        g_RefreshToken.set(m_RefreshToken);
        g_UserId.set(m_Account.cid);
        g_UserPrincipalName.set(m_Account.upn);
        g_AccountId.set(discovery.page.accountId);
        SaveAccountState();
        ClearCache();
        app->applicationDidFinishLaunching();
        waitForRun();
        editor.finishLoading(*app, QStringLiteral("{}"));
        ticks();
        ASSERT_EQ(editorMaps(), QStringList{EscapeForJsString(map)});
        ASSERT_EQ(g_OnlinePageId.get(), m_Page.id);
    }
    void TearDown() override
    {
        if (g_Worker)
            g_Worker->Wait();
        g_Worker.reset();
        QLoggingCategory::setFilterRules(QString());
        OnlineTest::TearDown();
    }

    // The user has edited the map: the page answers a save with it.
    void edited(const QString &map)
    {
        editor.answers[QStringLiteral("g_ZetJsonResult")] = map;
        editor.answers[QStringLiteral("g_ZetPngResult")]
            = QString(u"data:image/png;base64," + Testing::PreviewPng());
    }
    void selectPage(const QString &pageId)
    {
        const QString link = m_Service->pageDesktopLink(pageId);
        discovery.found = true;
        discovery.page
            = {AccountIdFromLink(link),    PageIdFromLink(link),      PageTitleFromLink(link),
               NotebookNameFromLink(link), SectionNameFromLink(link), link};
    }
    void ticks()
    {
        editor.flush();
        for (int i = 0; i < 3; ++i)
            tick();
    }
    static void waitForRun()
    {
        if (g_Worker)
            g_Worker->Wait();
        ASSERT_TRUE(WorkerFinished());
    }

    // The map of the page's one container, or what is wrong with the page; a page this client
    // wrote also holds one picture of the map.
    [[nodiscard]] QString mapOn(const QString &pageId, qsizetype pictures = 1) const
    {
        const QString html = m_Service->pageHtml(pageId);
        if (html.count(u"alt=\"ZetGif\"") != 1 || html.count(u"alt=\"ZetCogitra\"") != pictures)
            return QStringLiteral("<not one picture and one container>");
        const QString src = TZetGifAttachment::GetZetGifUrlFromPageHtml(html);
        const std::optional<QByteArray> templateBytes
            = ReadWholeFile(TZetGifAttachment::TemplatePath());
        for (const Service::Resource &resource : m_Service->pageResources(pageId)) {
            if (templateBytes && src.contains(u'/' + resource.id + u'/'))
                return ParseContainer(templateBytes->size(), resource.data)
                    .value_or(QStringLiteral("<damaged>"));
        }
        return QStringLiteral("<unreadable>");
    }

    MOnlineRunner m_Runner;
};

} // namespace Cogitra::Test
