#include "ServiceTestSupport.h"

#include "onenote/MOLONUtils.h"
#include "service/DemoSeed.h"
#include "service/HtmlFragment.h"
#include "service/JsonWriter.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include <csignal>

using namespace Cogitra::Service;
using namespace Cogitra::Service::Testing;

namespace {

// The demo account, seeded once: its pages' links name them as the client reads them. The
// desktop page makes and selects pages; a page's view runs none of its scripts.
TEST_F(ServiceTest, TheDemoAccountsLinksAndTheDesktopPage)
{
    const DemoAccount demo = *service->seedDemo();
    const QString cid = demo.account.cid;
    EXPECT_EQ(service->selectedPageId(), demo.mapPageId);
    EXPECT_EQ(service->seedDemo()->mapPageId, demo.mapPageId); // seeding again finds it
    int pages = 0;
    for (const Section &where : service->store().allSections(cid)) {
        const QStringList folders = service->store().sectionFolders(where);
        for (const Page &p : service->store().pages(where.id, 0, 1000)) {
            const QString desktop = service->pageDesktopLink(p.id);
            SCOPED_TRACE(desktop.toStdString());
            ++pages;
            EXPECT_TRUE(Cogitra::IsOneNoteLink(desktop));
            EXPECT_EQ(Cogitra::PageTitleFromLink(desktop), p.title);
            // The last folder before the section file: the notebook, or the innermost group.
            EXPECT_EQ(Cogitra::NotebookNameFromLink(desktop), folders.last());
            EXPECT_EQ(Cogitra::SectionNameFromLink(desktop), where.name);
            EXPECT_EQ(Cogitra::AccountIdFromLink(desktop), cid);
            EXPECT_EQ(Cogitra::PageIdFromLink(desktop), p.clientGuid);
            const QString graphLink = service->pageClientUrl(p.id);
            EXPECT_EQ(Cogitra::PageIdFromLink(graphLink).toUpper(), p.clientGuid);
            EXPECT_EQ(Cogitra::AccountIdFromLink(graphLink), cid);
        }
    }
    EXPECT_GT(pages, 130);

    const auto created
        = post(QStringLiteral("/desktop/api/sections/%1/pages").arg(section.id),
               QStringLiteral(R"({"title":"Plan (v2) & more"})"), "application/json");
    ASSERT_EQ(Status(created), 201);
    const QString made
        = QJsonDocument::fromJson(created->body.c_str()).object().value(u"id").toString();
    const auto select = [&](const QString &id) {
        return Status(post(QStringLiteral("/desktop/api/selection"),
                           QStringLiteral(R"({"pageId":"%1"})").arg(id), "application/json"));
    };
    EXPECT_EQ(select(made), 200);
    EXPECT_EQ(select(QStringLiteral("0-nope")), 404);
    const auto tree = client->Get("/desktop/api/tree");
    ASSERT_EQ(Status(tree), 200);
    EXPECT_EQ(QJsonDocument::fromJson(tree->body.c_str())[u"selection"][u"pageId"].toString(),
              made);
    const auto view
        = client->Get(QStringLiteral("/desktop/api/pages/%1/view").arg(page.id).toStdString());
    ASSERT_EQ(Status(view), 200);
    EXPECT_NE(view->get_header_value("Content-Security-Policy").find("sandbox"), std::string::npos);
}

// Replies compact in insertion order, slashes as they are; void elements end at their tag and a
// torn tag is no element (the rest of the HTML is checked with the page updates).
TEST(ServiceData, JsonRepliesAndHtmlElements)
{
    Json json = Json::object();
    json.add(QStringLiteral("z"), "a/b&c")
        .add(QStringLiteral("a"), qint64(3))
        .add(QStringLiteral("q"), "\"\n\x01é");
    json.add(QStringLiteral("list"), Json::array().push(Json::null()).push(Json::boolean(true)));
    EXPECT_EQ(
        json.toCompact(),
        QByteArray(
            "{\"z\":\"a/b&c\",\"a\":3,\"q\":\"\\\"\\n\\u0001\xc3\xa9\",\"list\":[null,true]}"));

    const QString html = QStringLiteral("<img id=\"c\" src=\"s\"><p>x</p>");
    const auto image = FindElement(html, [](const HtmlToken &t) { return t.name == u"img"; });
    ASSERT_TRUE(image);
    EXPECT_EQ(image->innerBegin, image->end);
    EXPECT_EQ(image->end, html.indexOf(u"<p>"));
    EXPECT_FALSE(FindElement(QStringLiteral("<p <<< \"unterminated"),
                             [](const HtmlToken &) { return true; }));
}

QByteArray NextLine(QProcess &program)
{
    while (!program.canReadLine() && program.waitForReadyRead(20000)) {
    }
    return program.readLine();
}

// Given a data folder, the program prints its root URL first and ends cleanly on SIGTERM; a
// second start finds the data of the first.
TEST(ServiceProgram, PrintsItsRootFirstAndStopsCleanlyOnSigterm)
{
    QProcess refused; // without a data folder
    refused.start(QStringLiteral(COGITRA_SERVICE_PROGRAM), {});
    ASSERT_TRUE(refused.waitForFinished(10000));
    EXPECT_NE(refused.exitCode(), 0);
    EXPECT_TRUE(refused.readAllStandardError().contains("--data"));
    QTemporaryDir data;
    for (int run = 0; run < 2; ++run) {
        QProcess program;
        program.start(QStringLiteral(COGITRA_SERVICE_PROGRAM),
                      {QStringLiteral("--data"), data.path(), QStringLiteral("--seed-demo")});
        ASSERT_TRUE(program.waitForStarted(10000));
        const QUrl root(QString::fromUtf8(NextLine(program)).trimmed());
        ASSERT_EQ(root.host(), QStringLiteral("127.0.0.1")) << qPrintable(root.toString());
        EXPECT_TRUE(NextLine(program).contains("demo@cogitra.test"));
        const auto selection = httplib::Client("127.0.0.1", root.port()).Get("/desktop/selection");
        ASSERT_TRUE(selection);
        EXPECT_EQ(selection->body.rfind("onenote:https://d.docs.live.net/", 0), 0u);

        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        ASSERT_TRUE(program.waitForFinished(10000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0);
    }
}

} // namespace
