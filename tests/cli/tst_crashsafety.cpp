#include "CliSession.h"
#include "attachment/TZetGifAttachment.h"
#include "util/MConfig.h"
#include "util/MGlobals.h"

#include <QDir>
#include <QJsonDocument>
#include <QSet>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <thread>

using namespace Cogitra;
using namespace Cogitra::Testing;

// cogitra-cli save killed at random moments: every file it writes stays whole, and the next save
// works. COGITRA_CRASH_SEED=<n> repeats the kills of an earlier run.
namespace {

using Files = QMap<QString, QByteArray>; // path inside the data folder -> bytes

// Large enough that kills land inside the writes as well as between the requests.
QByteArray MakeMap(int iteration)
{
    QByteArray children;
    for (int i = 0; i < 2000; ++i)
        children += QString(",{\"data\":{\"text\":\"Run %1 node %2 – Straße 计划 %3\"}}")
                        .arg(iteration)
                        .arg(i)
                        .arg(QString(40, QChar(u'a' + (i + iteration) % 26)))
                        .toUtf8();
    return "{\"root\":{\"children\":[" + children.mid(1) + "],\"data\":{\"text\":\"Kill "
           + QByteArray::number(iteration) + "\"}},\"template\":\"default\"}";
}

Files ReadTree(const QString &dataDir)
{
    Files files;
    for (const QString &folder : {QString(), QString("jCache/")})
        for (const QFileInfo &info :
             QDir(dataDir + '/' + folder).entryInfoList(QDir::Files | QDir::Hidden))
            files.insert(folder + info.fileName(), ReadBytes(info.filePath()));
    return files;
}

class CrashSafety : public CliSession
{
protected:
    // Expired access tokens and stale lists: the save writes the configuration and the cache.
    void makeTheNextSaveWriteEverything() const
    {
        m_Svc.service().expireAccessTokens();
        const QDateTime past = QDateTime::currentDateTimeUtc().addSecs(-3600);
        for (const QFileInfo &info : QDir(m_DataDir + "/jCache").entryInfoList(QDir::Files)) {
            QFile file(info.filePath());
            if (file.open(QIODevice::ReadWrite))
                file.setFileTime(past, QFileDevice::FileModificationTime);
        }
    }

    // A request the killed program had sent may still be in the service's hands.
    void waitForTheServiceToSettle() const
    {
        size_t seen = m_Svc.service().requestLog().size();
        for (int quiet = 0, rounds = 0; quiet < 3 && rounds < 100; ++rounds) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            const size_t now = m_Svc.service().requestLog().size();
            quiet = now == seen ? quiet + 1 : 0;
            seen = now;
        }
    }

    void checkFiles(const Files &before, const QByteArray &newMap)
    {
        const Files after = ReadTree(m_DataDir);
        // The configuration is whole: the store reads the account from it.
        EXPECT_FALSE(MConfig(m_DataDir + "/zetapp.plist")
                         .ReadValueDefStr("OnlineOneNoteRefreshToken", {})
                         .isNull())
            << "zetapp.plist is torn or gone";
        for (const char *name : {"cogitra.json", "ZetTmp.txt"}) {
            const QByteArray bytes = after.value(name);
            EXPECT_TRUE(bytes == before.value(name) || bytes == newMap)
                << name << " is neither the old nor the new map (" << bytes.size() << " bytes)";
        }
        const QString gif = m_DataDir + "/ZetFile.gif";
        EXPECT_TRUE(after.value("ZetFile.gif") == before.value("ZetFile.gif")
                    || ReadContainerJson(TZetGifAttachment::TemplatePath(), gif).toUtf8() == newMap)
            << "ZetFile.gif is torn";
        const QSet<QString> known{"zetapp.plist", "cogitra.json", "ZetTmp.txt", "ZetFile.gif"};
        for (auto it = after.cbegin(); it != after.cend(); ++it) {
            // A list cut short is no JSON object.
            if ((it.key().startsWith("jCache/") && it.key().endsWith(".json"))
                || it.key() == "seen-maps.json")
                EXPECT_TRUE(QJsonDocument::fromJson(it.value()).isObject())
                    << it.key().toStdString();
            else if (!known.contains(it.key()) && !before.contains(it.key()))
                m_Strays.insert(it.key());
        }
    }

    QString m_DataDir;
    QSet<QString> m_Strays;
};

TEST_F(CrashSafety, SaveKilledAtRandomMomentsLeavesWholeFilesAndTheNextStartWorks)
{
    const unsigned seed = qEnvironmentVariableIsSet("COGITRA_CRASH_SEED")
                              ? unsigned(qEnvironmentVariableIntValue("COGITRA_CRASH_SEED"))
                              : std::random_device()();
    SCOPED_TRACE("COGITRA_CRASH_SEED=" + std::to_string(seed));
    std::mt19937 random(seed);
    login();
    m_DataDir = g_AppDataDir.get();

    // Two whole saves first; the kills spread over the time of the second, warm one.
    qint64 warm = 1;
    for (int i = -2; i < 50; ++i) {
        const qint64 killAfter
            = i < 0 ? -1 : std::uniform_int_distribution<qint64>(0, warm)(random);
        SCOPED_TRACE(QString("run %1, killed at %2 ms").arg(i).arg(killAfter).toStdString());
        const QByteArray map = MakeMap(i);
        // --replace: a save killed after its upload leaves the page's new map unrecorded.
        const QStringList arguments = saveArguments(m_Svc.demo().mapPageId, map, true);
        makeTheNextSaveWriteEverything();
        const Files before = ReadTree(m_DataDir);
        m_Svc.service().clearRequestLog();

        const CliRun run = program(arguments, killAfter);
        if (i < 0) {
            ASSERT_EQ(run.status, 0) << run.err.toStdString();
            warm = std::max<qint64>(run.elapsedMs, 1);
        }
        waitForTheServiceToSettle();
        if (i > -2)
            checkFiles(before, map);

        // The run died between spending the refresh token and storing the new one: sign in.
        const auto &log = m_Svc.service().requestLog();
        if (std::any_of(log.begin(), log.end(),
                        [](const auto &r) { return r.route == u"token" && r.status == 200; })
            && ReadTree(m_DataDir).value("zetapp.plist") == before.value("zetapp.plist"))
            login();

        if (i >= 0) {
            const CliRun next = program(arguments);
            ASSERT_EQ(next.status, 0)
                << "the save after the kill failed: " << next.err.toStdString();
        }
        EXPECT_EQ(ReadTree(m_DataDir).value("cogitra.json"), map);
        EXPECT_EQ(Cli({"open", "--link", link(m_Svc.demo().mapPageId)}).out, map);
        if (HasFailure())
            break;
    }
    // Temporary files of interrupted writes must not pile up in the data folder.
    EXPECT_LE(m_Strays.size(), 4) << QStringList(m_Strays.values()).join(", ").toStdString();
}

} // namespace
