#include "../support/TestFiles.h"

#include "util/MConfig.h"
#include "util/MGlobals.h"
#include "util/MStrings.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace Cogitra;
using namespace Cogitra::Testing;

namespace {

class GlobalsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetGlobalsForTesting();
        SetLanguage("en");
        ASSERT_TRUE(m_Root.isValid());
    }
    void TearDown() override
    {
        ResetGlobalsForTesting();
        SetLanguage("en");
    }
    QString dataDir() const { return m_Root.path() + "/Ardentis/Cogitra"; }

    QTemporaryDir m_Root;
};

} // namespace

// The data root comes from the environment; a folder left readable by others is made private.
// A root where nothing can be created is no crash: start-up goes on and saves fail quietly.
TEST_F(GlobalsTest, FirstStartMakesPrivateFoldersAndChoosesTheDefaultHost)
{
    ASSERT_TRUE(QDir().mkpath(dataDir()));
    ASSERT_TRUE(QFile::setPermissions(dataDir(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                     | QFileDevice::ExeOwner
                                                     | QFileDevice::ReadOther));
    qputenv("COGITRA_DATA_ROOT", QFile::encodeName(m_Root.path()));
    InitGlobals();
    qunsetenv("COGITRA_DATA_ROOT");
    EXPECT_EQ(g_AppDataDir.get(), dataDir());
    EXPECT_EQ(g_CacheDir.get(), dataDir() + "/jCache");
    EXPECT_TRUE(OwnerOnly(g_AppDataDir.get()));
    EXPECT_TRUE(OwnerOnly(g_CacheDir.get()));
    EXPECT_FALSE(QFile::exists(g_ConfigFile.get())) << "reading creates no configuration";
    EXPECT_EQ(g_Host.get(), "editor.ardentis.app");
    EXPECT_TRUE(QRegularExpression("^[0-9a-fA-F]{8}(-[0-9a-fA-F]{4}){3}-[0-9a-fA-F]{12}$")
                    .match(ClientId())
                    .hasMatch())
        << "the client id is a 36-character GUID";

    // The Chinese localisation has a default host of its own.
    ResetGlobalsForTesting();
    SetLanguage("cn");
    const QString blocker = m_Root.filePath("blocked");
    ASSERT_TRUE(QFile(blocker).open(QIODevice::WriteOnly));
    InitGlobals(blocker);
    EXPECT_EQ(g_Host.get(), "editor.ardentis.cn");
    g_AccessToken.set("at");
    SaveAccountState();
    EXPECT_FALSE(QFile::exists(g_ConfigFile.get()));

    // The application may put its embedded host in their place.
    ResetGlobalsForTesting();
    SetDefaultEditorHosts("127.0.0.1:5001", "127.0.0.1:5002");
    InitGlobals(m_Root.path());
    EXPECT_EQ(g_Host.get(), "127.0.0.1:5002");
}

// Tokens another program renewed after this one read them are taken, not written over.
TEST_F(GlobalsTest, SavesTakeOtherProgramsTokensAndWaitForTheirLock)
{
    ASSERT_TRUE(QDir().mkpath(dataDir()));
    const QString file = dataDir() + "/zetapp.plist";
    const auto otherProgramSaves = [&file](const QString &access, const QString &refresh) {
        MConfig config(file);
        config.WriteValueStr("OnlineOneNoteAccessToken", access);
        config.WriteValueStr("OnlineOneNoteRefreshToken", refresh);
        config.WriteValueStr("OnlineOneNoteUserId", "user");
        ASSERT_TRUE(config.Save());
    };
    const auto stored = [&file](const QString &key) {
        return MConfig(file).ReadValueDefStr(key, QString()).toString();
    };
    otherProgramSaves("a1", "r1");
    InitGlobals(m_Root.path());
    g_Host.set("not.saved"); // the host is read, never written
    otherProgramSaves("a2", "r2");
    g_UserPrincipalName.set("me@example.com");
    SaveAccountState();
    EXPECT_EQ(g_AccessToken.get(), "a2");
    EXPECT_EQ(g_RefreshToken.get(), "r2");
    EXPECT_EQ(stored("OnlineOneNoteRefreshToken"), "r2");
    EXPECT_EQ(stored("UserPrincipalName"), "me@example.com");
    EXPECT_EQ(stored("Host"), "");

    g_RefreshToken.set("r3");
    SaveAccountState();
    EXPECT_EQ(stored("OnlineOneNoteRefreshToken"), "r3");
    EXPECT_FALSE(AdoptRenewedTokens()) << "nothing new in the file";

    // The lock serialises writers across threads as across programs.
    std::atomic<bool> held{false};
    std::thread holder([&] {
        const MConfigLock lock(file);
        held = lock.isLocked();
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
    });
    while (!held)
        std::this_thread::yield();
    QElapsedTimer clock;
    clock.start();
    {
        const MConfigLock lock(file);
        EXPECT_GE(clock.elapsed(), 300) << "did not wait for the holder";
        EXPECT_TRUE(lock.isLocked());
    }
    holder.join();
    EXPECT_TRUE(QFile::exists(file));
    EXPECT_FALSE(QFile::exists(file + ".lock"));
}
