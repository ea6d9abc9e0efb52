#include "CliRunner.h"
#include "ServiceFixture.h"
#include "attachment/TZetGifAttachment.h"
#include "cli/SessionVerbs.h"
#include "online/MReplyCache.h"
#include "util/MConfig.h"
#include "util/MGlobals.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <random>
#include <thread>

using namespace Cogitra;
using namespace Cogitra::Testing;

// cogitra-cli save, the real program, killed with SIGKILL at random moments of its run
// against the local notebook service. After every kill each file the save writes must be
// whole (the file from before, or one the program writes complete), no temporary files may
// pile up, and the next start must work: the configuration loads, the cache reads, and an
// uninterrupted save succeeds and puts the map on the page.
//
// COGITRA_CRASH_SEED=<n> repeats the kill delays of an earlier run (each failure names it).
namespace {

constexpr int kKills = 50;
constexpr int kCalibrationSaves = 4;

const QStringList kConfigKeys
    = {QStringLiteral("OnlineOneNoteAccessToken"), QStringLiteral("OnlineOneNoteRefreshToken"),
       QStringLiteral("OnlineOneNoteAccountId"), QStringLiteral("OnlineOneNoteUserId"),
       QStringLiteral("UserPrincipalName")};

using Files = QMap<QString, QByteArray>; // path inside the data folder -> bytes

// A map large enough that its files take a moment to write, so that kills land inside
// the writes as well as between the requests.
QByteArray MakeMap(int iteration)
{
    QJsonArray children;
    for (int i = 0; i < 2000; ++i) {
        children.append(QJsonObject{
            {QStringLiteral("data"),
             QJsonObject{{QStringLiteral("text"),
                          QStringLiteral("Run %1 node %2 – Straße 计划 %3")
                              .arg(iteration)
                              .arg(i)
                              .arg(QString(40, QChar(u'a' + (i + iteration) % 26)))}}}});
    }
    const QJsonObject root{{QStringLiteral("root"),
                            QJsonObject{{QStringLiteral("data"),
                                         QJsonObject{{QStringLiteral("text"),
                                                      QStringLiteral("Kill %1").arg(iteration)}}},
                                        {QStringLiteral("children"), children}}},
                           {QStringLiteral("template"), QStringLiteral("default")},
                           {QStringLiteral("version"), QStringLiteral("1.4.43")}};
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

Files ReadTree(const QString &dataDir)
{
    Files files;
    for (const QString &folder : {QString(), QStringLiteral("jCache")}) {
        const QDir dir(QDir(dataDir).filePath(folder));
        for (const QFileInfo &info : dir.entryInfoList(QDir::Files | QDir::Hidden)) {
            QFile file(info.filePath());
            const QString name
                = folder.isEmpty() ? info.fileName() : folder + u'/' + info.fileName();
            files.insert(name, file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
        }
    }
    return files;
}

bool IsKnownFile(const QString &name)
{
    static const QSet<QString> top
        = {QStringLiteral("zetapp.plist"), QStringLiteral("cogitra.json"),
           QStringLiteral("ZetTmp.txt"), QStringLiteral("ZetFile.gif")};
    if (name.startsWith(QLatin1String("jCache/")))
        return name.endsWith(QLatin1String(".json")) && !name.mid(7).contains(u'/');
    return top.contains(name);
}

// A configuration that the store wrote whole: it reads as a dictionary with every account
// key, and the store writes those same bytes again from what it read.
::testing::AssertionResult IsWholeConfig(const QByteArray &bytes, const QString &scratch)
{
    QFile::remove(scratch);
    {
        QFile file(scratch);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return ::testing::AssertionFailure() << "cannot copy the configuration";
    }
    MConfig config(scratch);
    if (!config.hasDictionary())
        return ::testing::AssertionFailure()
               << "not a property-list dictionary (" << bytes.size() << " bytes)";
    for (const QString &key : kConfigKeys) {
        const QVariant value = config.ReadValueDefStr(key, QVariant());
        if (value.typeId() != QMetaType::QString || value.toString().isEmpty())
            return ::testing::AssertionFailure() << "no " << key.toStdString();
    }
    if (!config.Save())
        return ::testing::AssertionFailure() << "cannot write the configuration again";
    QFile again(scratch);
    if (!again.open(QIODevice::ReadOnly) || again.readAll() != bytes)
        return ::testing::AssertionFailure() << "not the bytes the store writes";
    return ::testing::AssertionSuccess();
}

class CrashSafety : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_Dir.isValid());
        ServiceFixture::Setup setup;
        setup.demo = true;
        setup.requestTimeoutMs = "5000";
        ASSERT_NO_FATAL_FAILURE(m_Svc.start(setup));

        m_DataRoot = m_Dir.filePath(QStringLiteral("data"));
        m_Env = QProcessEnvironment::systemEnvironment();
        m_Env.insert(QStringLiteral("COGITRA_DATA_ROOT"), m_DataRoot);
        m_Env.remove(QStringLiteral("COGITRA_CLI_DIAGNOSTICS"));

        m_PngPath = WriteFile(m_Dir, QStringLiteral("map.png"),
                              Service::MakePng(320, 200, 0x3366cc, 0xffffff));
    }

    // Signs in through the service's sign-in form with the login verb, in this process.
    void Login()
    {
        SessionOptions options;
        options.dataRoot = m_DataRoot;
        const QByteArray prompt = RunVerbs(AllVerbs(options), {QStringLiteral("login")}).out;
        const QString redirect
            = m_Svc.signInInBrowser(QString::fromUtf8(prompt.split('\n').value(0)));
        const CliRun run
            = RunVerbs(AllVerbs(options), {QStringLiteral("login")}, redirect.toUtf8() + "\n");
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
    }

    // Starts "cogitra-cli save" and kills it killAfterMs after its start (never when < 0).
    // With --replace: a save killed after its writes leaves the page's new map unrecorded,
    // and the next save would rightly refuse it.
    CliRun Save(qint64 killAfterMs) const
    {
        return RunProgram(QStringLiteral(COGITRA_CLI_PATH),
                          {QStringLiteral("save"), QStringLiteral("--link"), m_Link,
                           QStringLiteral("--json"), m_JsonPath, QStringLiteral("--png"), m_PngPath,
                           QStringLiteral("--replace")},
                          m_Env, killAfterMs);
    }

    // What the save will find for the next run: the access tokens it holds are no longer
    // good (the save renews them and writes the configuration mid-run), and the cached
    // lists are stale (the save fetches and writes them again).
    void MakeTheNextSaveWriteEverything() const
    {
        m_Svc.service().expireAccessTokens();
        const QDateTime past = QDateTime::currentDateTimeUtc().addSecs(-3600);
        const QDir cache(QDir(m_DataDir).filePath(QStringLiteral("jCache")));
        for (const QFileInfo &info : cache.entryInfoList(QDir::Files)) {
            QFile file(info.filePath());
            if (file.open(QIODevice::ReadWrite))
                file.setFileTime(past, QFileDevice::FileModificationTime);
        }
    }

    // A request the killed program had sent may still be in the service's hands.
    void WaitForTheServiceToSettle() const
    {
        size_t seen = m_Svc.service().requestLog().size();
        for (int quiet = 0, rounds = 0; quiet < 3 && rounds < 100; ++rounds) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            const size_t now = m_Svc.service().requestLog().size();
            quiet = now == seen ? quiet + 1 : 0;
            seen = now;
        }
    }

    // The map on the page: the payload of the container among its images.
    QByteArray MapOnPage() const
    {
        QFile templ(TZetGifAttachment::TemplatePath());
        const qsizetype templateLength = templ.open(QIODevice::ReadOnly) ? templ.size() : 0;
        for (const Service::Resource &resource :
             m_Svc.service().pageResources(m_Svc.demo().mapPageId)) {
            if (const auto payload = ParseContainer(templateLength, resource.data))
                return payload->toUtf8();
        }
        return {};
    }

    void CheckFiles(const Files &before, const QByteArray &newMap)
    {
        const Files after = ReadTree(m_DataDir);
        const QString scratch = m_Dir.filePath(QStringLiteral("scratch.plist"));

        ASSERT_TRUE(after.contains(QStringLiteral("zetapp.plist"))) << "the configuration is gone";
        const QByteArray config = after.value(QStringLiteral("zetapp.plist"));
        if (config != before.value(QStringLiteral("zetapp.plist"))) {
            EXPECT_TRUE(IsWholeConfig(config, scratch)) << "zetapp.plist is torn";
        }

        for (const QString &name : {QStringLiteral("cogitra.json"), QStringLiteral("ZetTmp.txt")}) {
            const QByteArray bytes = after.value(name);
            EXPECT_TRUE(bytes == before.value(name) || bytes == newMap)
                << name.toStdString() << " is neither the old nor the new map (" << bytes.size()
                << " bytes)";
            EXPECT_TRUE(QJsonDocument::fromJson(bytes).isObject()) << name.toStdString();
        }

        const QString seen = QStringLiteral("seen-maps.json");
        if (after.contains(seen)) {
            EXPECT_TRUE(QJsonDocument::fromJson(after.value(seen)).isObject())
                << "seen-maps.json is torn";
        }

        const QString gif = QStringLiteral("ZetFile.gif");
        if (after.value(gif) != before.value(gif)) {
            const QString payload = ReadContainerJson(TZetGifAttachment::TemplatePath(),
                                                      QDir(m_DataDir).filePath(gif));
            EXPECT_EQ(payload.toUtf8(), newMap) << "ZetFile.gif is torn";
        }

        for (auto it = after.cbegin(); it != after.cend(); ++it) {
            if (!it.key().startsWith(QLatin1String("jCache/")) || !IsKnownFile(it.key()))
                continue;
            // A list cut short is no JSON object.
            EXPECT_TRUE(QJsonDocument::fromJson(it.value()).isObject())
                << it.key().toStdString() << " is not a whole reply (" << it.value().size()
                << " bytes)";
            EXPECT_TRUE(LoadFromCacheFile(it.key().mid(7), 24 * 60).has_value())
                << it.key().toStdString() << " does not read from the cache";
        }

        for (auto it = after.cbegin(); it != after.cend(); ++it) {
            if (!IsKnownFile(it.key()) && !before.contains(it.key()))
                m_Strays.insert(it.key());
        }
    }

    ServiceFixture m_Svc;
    QTemporaryDir m_Dir;
    QString m_DataRoot;
    QString m_DataDir;
    QString m_Link;
    QString m_JsonPath;
    QString m_PngPath;
    QProcessEnvironment m_Env;
    QSet<QString> m_Strays;
};

TEST_F(CrashSafety, SaveKilledAtRandomMomentsLeavesWholeFilesAndTheNextStartWorks)
{
    std::random_device device;
    const unsigned seed = qEnvironmentVariableIsSet("COGITRA_CRASH_SEED")
                              ? unsigned(qEnvironmentVariableIntValue("COGITRA_CRASH_SEED"))
                              : device();
    SCOPED_TRACE("COGITRA_CRASH_SEED=" + std::to_string(seed));
    std::mt19937 random(seed);

    Login();
    ASSERT_FALSE(HasFailure());
    m_DataDir = g_AppDataDir.get();
    ASSERT_FALSE(m_DataDir.isEmpty());
    m_Link = m_Svc.service().pageDesktopLink(m_Svc.demo().mapPageId);

    // The first saves run whole, and show that the checks accept what a save writes; the
    // median of their times but the first, cold one, is what the kills spread over.
    std::vector<qint64> times;
    std::uniform_int_distribution<qint64> delay;
    qint64 saveMs = 0;
    int signInsLost = 0;
    for (int i = -kCalibrationSaves; i < kKills; ++i) {
        if (i == 0) {
            std::sort(times.begin() + 1, times.end());
            saveMs = std::max<qint64>(times[1 + (times.size() - 1) / 2], 1);
            delay = std::uniform_int_distribution<qint64>(0, saveMs);
        }
        const qint64 killAfter = i < 0 ? -1 : delay(random);
        SCOPED_TRACE(QStringLiteral("run %1, killed at %2 ms of a %3 ms save")
                         .arg(i)
                         .arg(killAfter)
                         .arg(saveMs)
                         .toStdString());
        const QByteArray map = MakeMap(i);
        m_JsonPath = WriteFile(m_Dir, QStringLiteral("map.json"), map);
        MakeTheNextSaveWriteEverything();
        const Files before = ReadTree(m_DataDir);
        m_Svc.service().clearRequestLog();

        const CliRun run = Save(killAfter);
        SCOPED_TRACE(run.killed ? "killed" : "not killed");
        if (i < 0) {
            ASSERT_EQ(run.status, 0) << run.err.toStdString();
            times.push_back(run.elapsedMs);
        }
        WaitForTheServiceToSettle();
        if (i > -kCalibrationSaves)
            CheckFiles(before, map);

        // A refresh token is spent when the service answers, and the run died before it
        // stored the new one: the account must sign in again. No file is damaged by it.
        bool renewed = false;
        for (const Service::LoggedRequest &request : m_Svc.service().requestLog())
            renewed = renewed || (request.route == u"token" && request.status == 200);
        if (renewed
            && ReadTree(m_DataDir).value(QStringLiteral("zetapp.plist"))
                   == before.value(QStringLiteral("zetapp.plist"))) {
            ++signInsLost;
            Login();
        }

        if (i >= 0) {
            const CliRun next = Save(-1);
            ASSERT_EQ(next.status, 0)
                << "the save after the kill failed: " << next.err.toStdString();
        }
        EXPECT_EQ(ReadTree(m_DataDir).value(QStringLiteral("cogitra.json")), map);
        EXPECT_EQ(MapOnPage(), map);
        if (HasFailure())
            break;
    }

    // Temporary files of interrupted writes must not pile up in the data folder.
    EXPECT_LE(m_Strays.size(), 4) << "left behind: "
                                  << QStringList(m_Strays.values()).join(u", ").toStdString();

    std::cout << "[ crash    ] seed " << seed << ", save " << saveMs << " ms, " << kKills
              << " kills; sign-ins lost to a spent refresh token: " << signInsLost << "\n";
}

} // namespace
