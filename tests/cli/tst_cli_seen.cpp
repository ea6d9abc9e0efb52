#include "CliRunner.h"
#include "ServiceFixture.h"
#include "attachment/TZetGifAttachment.h"
#include "cli/SessionVerbs.h"
#include "onenote/MCurrentPage.h"
#include "online/MPageContent.h"
#include "online/MThreadOnlineOneNote.h"
#include "platform/DesktopServiceAutomation.h"
#include "util/MGlobals.h"
#include "util/MStepCodes.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

using namespace Cogitra;
using namespace Cogitra::Testing;

// cogitra-cli save and a map on the page that was not opened or saved on this computer; the
// application's runs share the data folder and what was seen there.
namespace {

const QByteArray kOurs = "{\"root\":{\"data\":{\"text\":\"ours\"}}}";
const QString kTheirs = QStringLiteral("{\"root\":{\"data\":{\"text\":\"theirs\"}}}");
const QByteArray kRefusedLine
    = "cogitra-cli: save: checking the page's map: the page holds a map that was not opened or "
      "saved on this computer, or that was changed since; nothing was written (open it first, "
      "or add --replace to replace it)\n";

class CliSeen : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_Dir.isValid());
        ServiceFixture::Setup setup;
        setup.demo = true;
        setup.requestTimeoutMs = "3000";
        m_Svc.start(setup);
        m_Page = m_Svc.demo().mapPageId;
    }

    CliRun Cli(const QStringList &arguments, const QByteArray &input = QByteArray())
    {
        SessionOptions options;
        options.dataRoot = DataRoot();
        options.progressInterval = std::chrono::milliseconds(5);
        const QString root = m_Svc.rootUrl();
        options.makeAutomation = [root](IClipboard &clipboard) {
            return std::make_unique<DesktopServiceAutomation>(
                clipboard, root, std::chrono::seconds(5), [](std::chrono::milliseconds) {});
        };
        return RunVerbs(AllVerbs(options), arguments, input);
    }

    void Login()
    {
        const CliRun prompt = Cli({QStringLiteral("login")});
        const QString authorize = QString::fromUtf8(prompt.out).section(u'\n', 0, 0);
        const QString redirect = m_Svc.signInInBrowser(authorize);
        ASSERT_TRUE(redirect.contains(QLatin1String("?code=")));
        ASSERT_EQ(Cli({QStringLiteral("login")}, redirect.toUtf8() + "\n").status, 0);
    }

    [[nodiscard]] QString DataRoot() const { return m_Dir.filePath(QStringLiteral("data")); }
    [[nodiscard]] QString Link() const { return m_Svc.service().pageDesktopLink(m_Page); }

    CliRun CliOpen() { return Cli({QStringLiteral("open"), QStringLiteral("--link"), Link()}); }

    CliRun CliSave(const QByteArray &map, bool replace = false)
    {
        QStringList arguments{
            QStringLiteral("save"),
            QStringLiteral("--link"),
            Link(),
            QStringLiteral("--json"),
            WriteFile(m_Dir, QStringLiteral("map.json"), map),
            QStringLiteral("--png"),
            WriteFile(m_Dir, QStringLiteral("map.png"), Service::MakePng(4, 2, 0x3366cc, 0))};
        if (replace)
            arguments << QStringLiteral("--replace");
        return Cli(arguments);
    }

    // The application's open or save of the page, as its commands start them: it keeps the
    // page id and the origin of its map between runs, and shares the data folder.
    int64_t AppRun(bool open)
    {
        InitGlobals(DataRoot());
        OneNotePageInfo page;
        EXPECT_TRUE(MCurrentPage::ReadPageLink(Link(), page).isEmpty());
        g_OnlinePageId.set(m_AppPageId);
        MWorkerProperties properties
            = RunOfPage(page, open, QString::fromUtf8(kOurs),
                        QString::fromLatin1(Service::MakePng(4, 2, 0x3366cc, 0).toBase64()));
        if (!open)
            properties.Origin = m_AppOrigin;
        MarkWorkerStarted();
        const auto worker = MThreadOnlineOneNote::Create(std::move(properties));
        worker->Run();
        while (!WorkerFinished())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        worker->Wait();
        const int64_t step = g_StepCode.load();
        if (step == Step::OpenDone || step == Step::SaveDone) {
            m_AppOrigin = OriginOfFinishedRun();
            m_AppPageId = g_OnlinePageId.get();
        }
        return step;
    }

    // Another computer writes a map onto the page: through the service, not this client.
    void PutTheirMap() const
    {
        const QString imageId = TZetGifAttachment::GetZetGifIdFromPageHtml(
            m_Svc.service().pageHtml(m_Page), QStringLiteral("ZetGif"));
        ASSERT_TRUE(m_Svc.service().patchPage(
            m_Page, MPageContent::UpdateBody(imageId, TZetGifAttachment::Package(kTheirs),
                                             QStringLiteral("ZetGif"))));
    }

    ServiceFixture m_Svc;
    QTemporaryDir m_Dir;
    QString m_Page;
    MapOrigin m_AppOrigin;
    QString m_AppPageId;
};

TEST_F(CliSeen, SaveOverAMapReplacedElsewhereNeedsReplace)
{
    Login();
    // Never opened here: refused before anything is written.
    const QString demoHtml = m_Svc.service().pageHtml(m_Page);
    CliRun save = CliSave(kOurs);
    EXPECT_EQ(save.status, 3);
    EXPECT_EQ(save.err, kRefusedLine);
    EXPECT_TRUE(save.out.isEmpty());
    EXPECT_EQ(m_Svc.service().pageHtml(m_Page), demoHtml);

    ASSERT_EQ(CliOpen().status, 0);
    PutTheirMap();
    const QString theirHtml = m_Svc.service().pageHtml(m_Page);
    save = CliSave(kOurs);
    EXPECT_EQ(save.status, 3);
    EXPECT_EQ(save.err, kRefusedLine);
    EXPECT_EQ(m_Svc.service().pageHtml(m_Page), theirHtml);
    EXPECT_EQ(CliOpen().out, kTheirs.toUtf8());

    save = CliSave(kOurs, true);
    EXPECT_EQ(save.status, 0) << save.err.toStdString();
    EXPECT_EQ(CliOpen().out, kOurs);
    // The cli's own save is seen: the next one needs no --replace.
    EXPECT_EQ(CliSave(kOurs).status, 0);
}

TEST_F(CliSeen, TheApplicationAndTheCliShareWhatTheySaw)
{
    Login();
    ASSERT_EQ(CliOpen().status, 0);
    ASSERT_EQ(AppRun(true), Step::OpenDone);
    EXPECT_EQ(AppRun(false), Step::SaveDone);
    // What the application saved, the cli may replace unasked...
    const CliRun save = CliSave(kOurs);
    EXPECT_EQ(save.status, 0) << save.err.toStdString();
    // ...but the application did not see the cli's map: it asks.
    EXPECT_EQ(AppRun(false), Step::SaveUnseenMap);
    ASSERT_EQ(AppRun(true), Step::OpenDone);
    EXPECT_EQ(AppRun(false), Step::SaveDone);
    EXPECT_EQ(CliSave(kOurs).status, 0);
}

TEST_F(CliSeen, OnlyMapsTheEditorCanOpenAreSaved)
{
    QByteArray deep = "{\"data\":{}}";
    for (int i = 0; i < 257; ++i) // the innermost topic one level past the limit
        deep = "{\"children\":[" + deep + "]}";
    const QByteArray noTopic = "is not a map the editor can open: it has no root topic";
    const QByteArray notATopic = "is not a map the editor can open: its root is not a topic";
    const struct
    {
        QByteArray json;
        QByteArray reason; // empty: a map the editor opens
    } rows[] = {
        {"{}", noTopic},
        {"{\"template\":\"default\",\"data\":{\"text\":\"x\"}}", noTopic},
        {"{\"root\":null}", notATopic},
        {"{\"root\":[{\"data\":{}}]}", notATopic},
        {"{\"root\":\"topic\"}", notATopic},
        {"{\"root\":" + deep + "}", "is not a map the editor can open: its topics are nested "
                                    "deeper than 256"},
        {"[{\"root\":{}}]", "is not a map (a JSON object)"},
        {"{\"root\":{}", "is not a map (a JSON object)"},
        {"{\"root\":{}}", ""},
        {"{\"root\":{\"children\":[1,null,\"x\",{\"data\":{\"text\":\"a\"}}]}}", ""},
    };
    Login();
    m_Svc.service().clearRequestLog();
    for (const auto &row : rows) {
        SCOPED_TRACE(row.json.left(80).toStdString());
        EXPECT_EQ(Internal::WhyNotAMap(row.json).toUtf8(), row.reason);
        if (row.reason.isEmpty())
            continue;
        const CliRun save = CliSave(row.json, true);
        EXPECT_EQ(save.status, 1);
        EXPECT_EQ(save.err, "cogitra-cli: save: reading the files: "
                                + m_Dir.filePath(QStringLiteral("map.json")).toUtf8() + ' '
                                + row.reason + '\n');
    }
    EXPECT_TRUE(m_Svc.service().requestLog().empty());
}

} // namespace
