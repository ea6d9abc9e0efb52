#include "CliSession.h"
#include "attachment/TZetGifAttachment.h"
#include "onenote/MCurrentPage.h"
#include "online/MGraphClient.h"
#include "online/MPageContent.h"
#include "online/MThreadOnlineOneNote.h"
#include "util/MGlobals.h"
#include "util/MStepCodes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <thread>

using namespace Cogitra;
using namespace Cogitra::Testing;

// The session verbs against the local notebook service, and beside the application, which
// shares the data folder, the account and what was seen there.
namespace {

const QByteArray kMap
    = QString::fromUtf8("{\"root\":{\"data\":{\"text\":\"Straße – 计划 \\\"q\\\"\"},"
                        "\"children\":[{\"data\":{\"text\":\"a'b\"}}]},"
                        "\"template\":\"default\",\"version\":\"1.4.43\"}")
          .toUtf8();
class CliOnline : public CliSession
{
protected:
    // The application's save of the map that came from origin: the step it ended at.
    int64_t appSave(const MapOrigin &origin)
    {
        OneNotePageInfo page;
        EXPECT_TRUE(MCurrentPage::ReadPageLink(link(origin.pageId), page).isEmpty());
        g_OnlinePageId.set(origin.pageId);
        MWorkerProperties properties
            = RunOfPage(page, false, QString::fromUtf8(kMap),
                        QString::fromLatin1(Service::MakePng(4, 2, 0x3366cc, 0).toBase64()));
        properties.Origin = origin;
        MarkWorkerStarted();
        const auto worker = MThreadOnlineOneNote::Create(std::move(properties));
        worker->Run();
        while (!WorkerFinished())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        worker->Wait();
        return g_StepCode.load();
    }
};

void ExpectFailure(const CliRun &run, const QByteArray &line)
{
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
    EXPECT_EQ(run.err, "cogitra-cli: " + line + "\n");
}

// Sign-in, save, open and token renewals; the tokens are never printed, the code is good once.
TEST_F(CliOnline, SignedInSavesOpensAndRenewsTokens)
{
    const CliRun prompt = Cli({"login"});
    const QString redirect = login();
    EXPECT_TRUE(m_LoginRun.out.endsWith(
        "{\"signedIn\":true,\"userPrincipalName\":\"demo@cogitra.test\"}\n"))
        << m_LoginRun.out.toStdString();
    const CliRun status = Cli({"status"});
    EXPECT_EQ(QJsonDocument::fromJson(status.out).object().value("userPrincipalName").toString(),
              m_Svc.demo().upn);

    const QString page = m_Svc.demo().nonAsciiPageId;
    const CliRun saved = save(page, kMap);
    ASSERT_EQ(saved.status, 0) << saved.err.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(saved.out).object().value("title").toString(),
              QString::fromUtf8("Ideen & Pläne: Straße — 思维导图"));
    // On a terminal the progress line is drawn and cleared before the result.
    const CliRun opened = Cli({"open", "--link", link(page)}, {}, true);
    EXPECT_EQ(opened.out, kMap);
    EXPECT_TRUE(opened.err.startsWith("\r\x1b[Kcogitra-cli: open: ")) << opened.err.toStdString();
    EXPECT_TRUE(opened.err.contains("\xe2\x80\xa6\r\x1b[K")) << opened.err.toStdString();
    EXPECT_TRUE(opened.err.endsWith("\r\x1b[K")) << opened.err.toStdString();
    EXPECT_FALSE(opened.err.contains('\n'));
    const QString out = m_Dir.filePath("opened.json");
    const CliRun toFile = Cli({"open", "--link", link(page), "--out", out});
    EXPECT_EQ(QJsonDocument::fromJson(toFile.out).object().value("bytes").toInteger(), kMap.size());
    EXPECT_EQ(ReadBytes(out), kMap);
    // Without a link: the page selected in the desktop notebook.
    ASSERT_TRUE(m_Svc.service().selectPage(page));
    EXPECT_EQ(Cli({"open"}).out, kMap);

    InitGlobals(dataRoot());
    const QByteArray access = g_AccessToken.get().toUtf8();
    const QByteArray refresh = g_RefreshToken.get().toUtf8();
    ASSERT_FALSE(access.isEmpty() || refresh.isEmpty());
    // Refresh tokens are spent by their use: the core and the program renewing at once stay
    // signed in.
    const QStringList openMap{"open", "--link", link(m_Svc.demo().mapPageId)};
    Service::Fault slow; // so that the two renewals overlap
    slow.kind = Service::FaultKind::Delay;
    slow.delayMs = 300;
    m_Svc.service().setFault("token", slow);
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        m_Svc.service().expireAccessTokens();
        std::thread core([round] {
            std::this_thread::sleep_for(std::chrono::milliseconds(80 * round));
            MOnlineClients clients;
            clients.graph.RetrieveUserIdByToken();
        });
        const CliRun cli = program(openMap);
        core.join();
        EXPECT_EQ(cli.status, 0) << cli.err.toStdString();
        EXPECT_FALSE(g_UserId.isEmpty()) << "the core was signed out";
        EXPECT_FALSE(g_RefreshToken.isEmpty());
    }
    m_Svc.service().clearFaults();
    const CliRun again = Cli({"login"}, redirect.toUtf8() + "\n");
    for (const QByteArray &printed : {prompt.out, m_LoginRun.out, status.out, saved.out, again.err})
        EXPECT_FALSE(printed.contains(access) || printed.contains(refresh));
    EXPECT_EQ(again.status, 1);
    EXPECT_TRUE(again.err.endsWith("cogitra-cli: login: exchanging the code for tokens: the "
                                   "identity platform gave no token (the code may have expired "
                                   "or been used already)\n"))
        << again.err.toStdString();
    EXPECT_FALSE(QJsonDocument::fromJson(Cli({"status"}).out).object().value("signedIn").toBool());
}

// pages: grouped sections by their group's path, long sections whole, exact-name filters; then
// saves over a map seen nowhere or replaced elsewhere.
TEST_F(CliOnline, PagesAndSavesOverMapsOfOthers)
{
    ExpectFailure(Cli({"pages"}), "pages: signing in: not signed in (run cogitra-cli login)");
    login();
    // A list that cannot be read is an error, not a section without pages.
    m_Svc.service().setFault("sectionPages", {Service::FaultKind::Status, 500});
    ExpectFailure(Cli({"pages"}),
                  "pages: reading the page lists: " + English("errGetNotebooksSections"));
    m_Svc.service().clearFaults();
    const struct
    {
        QStringList filters;
        QStringList sections; // notebook|group|section|pages
    } rows[] = {
        {{},
         {"Work Notes||Meetings|3", "Work Notes||Ideas|2", "Work Notes|Projects|A Team|1",
          "Work Notes|Projects/Archive|2025|1", "Garden||Planting plan|130",
          "Garden||Harvest log|1"}},
        {{"--notebook", "Garden"}, {"Garden||Planting plan|130", "Garden||Harvest log|1"}},
        {{"--section", "2025"}, {"Work Notes|Projects/Archive|2025|1"}},
        {{"--notebook", "garden"}, {}},
        {{"--notebook", "Garden", "--section", "Meetings"}, {}},
    };
    for (const auto &row : rows) {
        const CliRun run = Cli(QStringList{"pages"} + row.filters);
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        QStringList sections;
        for (const QJsonValue notebook : QJsonDocument::fromJson(run.out)["notebooks"].toArray())
            for (const QJsonValue section : notebook["sections"].toArray())
                sections << QStringList{notebook["name"].toString(), section["group"].toString(),
                                        section["name"].toString(),
                                        QString::number(section["pages"].toArray().size())}
                                .join('|');
        EXPECT_EQ(sections, row.sections) << row.filters.join(' ').toStdString();
        if (row.sections.isEmpty()) {
            EXPECT_EQ(run.out, "{\"notebooks\":[]}\n");
        }
    }
    const QJsonObject retro
        = QJsonDocument::fromJson(
              Cli({"pages", "--section", "2025"}).out)["notebooks"][0]["sections"][0]["pages"][0]
              .toObject();
    EXPECT_EQ(retro["title"].toString(), "Retrospective 2025");
    // The program's status and one line; on a terminal the line replaces the progress line.
    const QStringList openRetro{"open", "--link", retro["link"].toString()};
    const QByteArray noMap
        = "open: looking for the map: the page \"Retrospective 2025\" holds no map";
    ExpectFailure(program(openRetro), noMap);
    const CliRun failed = Cli(openRetro, {}, true);
    EXPECT_EQ(failed.status, 1);
    EXPECT_TRUE(failed.err.endsWith(QByteArray("\r\x1b[Kcogitra-cli: " + noMap + "\n")))
        << failed.err.toStdString();
    EXPECT_EQ(failed.err.count('\n'), 1);

    // A map not seen on this computer, or replaced since, is saved over only with --replace.
    const QString page = m_Svc.demo().mapPageId;
    const QByteArray refused
        = "cogitra-cli: save: checking the page's map: the page holds a map that was not opened "
          "or saved on this computer, or that was changed since; nothing was written (open it "
          "first, or add --replace to replace it)\n";
    const QString html = m_Svc.service().pageHtml(page);
    const CliRun saved = save(page, kMap);
    EXPECT_EQ(saved.status, kExitUnseenMap);
    EXPECT_EQ(saved.err, refused);
    EXPECT_TRUE(saved.out.isEmpty());
    EXPECT_EQ(m_Svc.service().pageHtml(page), html);
    // Opened here, then replaced by another computer.
    ASSERT_EQ(open(page).status, 0);
    const QString imageId
        = TZetGifAttachment::GetZetGifIdFromPageHtml(m_Svc.service().pageHtml(page), "ZetGif");
    ASSERT_TRUE(m_Svc.service().patchPage(
        page,
        MPageContent::UpdateBody(imageId, TZetGifAttachment::Package("{\"root\":{}}"), "ZetGif")));
    EXPECT_EQ(save(page, kMap).err, refused);
    EXPECT_EQ(save(page, kMap, true).status, 0);
    EXPECT_EQ(open(page).out, kMap);
    EXPECT_EQ(save(page, kMap).status, 0) << "the cli's own save is seen";
    m_Svc.service().setFault("patchContent", {Service::FaultKind::Status, 500});
    ExpectFailure(save(page, kMap), "save: uploading the picture: " + English("errUploadFailed"));
    m_Svc.service().clearFaults();

    // The application's save is seen by the cli; the cli's map is not the application's.
    ASSERT_EQ(open(page).status, 0);
    const MapOrigin opened = OriginOfFinishedRun();
    EXPECT_EQ(appSave(opened), Step::SaveDone);
    EXPECT_EQ(save(page, kMap).status, 0);
    EXPECT_EQ(appSave(opened), Step::SaveUnseenMap);
}

} // namespace
