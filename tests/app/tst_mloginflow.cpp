#include "app/MLoginFlow.h"
#include "online/MEndpoints.h"
#include "util/MConfig.h"
#include "util/MGlobals.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace Cogitra {
namespace {

struct FieldCase
{
    const char *url;
    const char *field;
    const char *value;
};

class FieldValue : public ::testing::TestWithParam<FieldCase>
{
};

TEST_P(FieldValue, ByMarkerSearch)
{
    const FieldCase &c = GetParam();
    EXPECT_EQ(
        MLoginFlow::GetFieldValueFromURL(QString::fromUtf8(c.url), QString::fromLatin1(c.field)),
        QString::fromUtf8(c.value));
}

INSTANTIATE_TEST_SUITE_P(
    Redirects, FieldValue,
    ::testing::Values(
        FieldCase{"https://login.live.com/oauth20_desktop.srf?code=M.C1_B&lc=1033", "code",
                  "M.C1_B"},
        FieldCase{"https://login.live.com/oauth20_desktop.srf?code=M.C1_B", "code", "M.C1_B"},
        FieldCase{"https://x/?a=1&username=ada%40example.com&b=2", "username", "ada%40example.com"},
        FieldCase{"https://x/?a=1", "code", ""}, FieldCase{"https://x/?code=", "code", ""},
        // A field whose name ends in the one asked for matches too.
        FieldCase{"https://x/?errcode=7&code=9", "code", "7"},
        FieldCase{"https://x/?code=a%2Bb&state=x", "code", "a%2Bb"}));

class LoginFlowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetGlobalsForTesting();
        ASSERT_TRUE(dir.isValid());
        InitGlobals(dir.path());
        g_AuthCode.set(QStringLiteral("old-code"));
        g_AccessToken.set(QStringLiteral("old-access"));
        g_RefreshToken.set(QStringLiteral("old-refresh"));
        g_AccountId.set(QStringLiteral("acc-1"));
        g_UserId.set(QStringLiteral("user-1"));
        g_UserPrincipalName.set(QStringLiteral("ada@example.com"));
        SaveAccountState();
    }
    void TearDown() override { ResetGlobalsForTesting(); }

    void expectSignedOut()
    {
        EXPECT_TRUE(g_AuthCode.isEmpty());
        EXPECT_TRUE(g_AccessToken.isEmpty());
        EXPECT_TRUE(g_RefreshToken.isEmpty());
        EXPECT_TRUE(g_AccountId.isEmpty());
        EXPECT_TRUE(g_UserId.isEmpty());
        EXPECT_EQ(g_UserPrincipalName.get(), QStringLiteral("ada@example.com"));
        MConfig stored(g_ConfigFile.get());
        for (const char *key : {"OnlineOneNoteAccessToken", "OnlineOneNoteRefreshToken",
                                "OnlineOneNoteAccountId", "OnlineOneNoteUserId"})
            EXPECT_EQ(
                stored.ReadValueDefStr(QString::fromLatin1(key), QStringLiteral("?")).toString(),
                QString())
                << key;
        EXPECT_EQ(stored.ReadValueDefStr(QStringLiteral("UserPrincipalName"), QString()).toString(),
                  QStringLiteral("ada@example.com"));
    }

    QTemporaryDir dir;
    MLoginFlow flow;
};

TEST_F(LoginFlowTest, OpeningEmptiesTheAccountStateInMemoryAndOnDisk)
{
    flow.Login();
    expectSignedOut();
}

TEST_F(LoginFlowTest, RedirectWithACodeClosesTheWindow)
{
    flow.Login();
    auto outcome = flow.PageFinished(QStringLiteral("https://login.example/common/oauth2/v2.0/"
                                                    "authorize?client_id=x&username=a%40b.c"));
    EXPECT_FALSE(outcome.closeWindow);
    EXPECT_TRUE(g_AuthCode.isEmpty());

    outcome = flow.PageFinished(
        QStringLiteral("https://account.example/oauth20_desktop.srf?lc=1&code=M.C9"));
    EXPECT_FALSE(outcome.closeWindow) << "\"code=\" that is not the first field";
    EXPECT_TRUE(g_AuthCode.isEmpty());

    outcome
        = flow.PageFinished(QStringLiteral("https://account.example/oauth20_desktop.srf?code="));
    EXPECT_TRUE(outcome.closeWindow);
    EXPECT_TRUE(g_AuthCode.isEmpty());

    outcome = flow.PageFinished(
        QStringLiteral("https://account.example/oauth20_desktop.srf?code=M.C9_x&lc=1033"));
    EXPECT_TRUE(outcome.closeWindow);
    EXPECT_FALSE(outcome.startLogin);
    EXPECT_EQ(g_AuthCode.get(), QStringLiteral("M.C9_x"));
    MConfig stored(g_ConfigFile.get());
    EXPECT_FALSE(
        stored.ReadValueDefStr(QStringLiteral("AuthCode"), QString()).isValid()
        && !stored.ReadValueDefStr(QStringLiteral("AuthCode"), QString()).toString().isEmpty())
        << "the code lives in memory only";
}

TEST_F(LoginFlowTest, SignOutPageStartsANewSignIn)
{
    flow.Logout();
    expectSignedOut();
    EXPECT_TRUE(flow.loggingOut());
    const auto outcome = flow.PageFinished(QStringLiteral("https://login.example/logout.srf"));
    EXPECT_TRUE(outcome.startLogin);
    EXPECT_FALSE(outcome.closeWindow);
    EXPECT_FALSE(flow.loggingOut());
    EXPECT_FALSE(flow.PageFinished(QStringLiteral("https://login.example/x")).startLogin);
}

TEST(LoginAddresses, FollowTheEndpointRoots)
{
    qputenv("COGITRA_LOGIN_ROOT", "http://127.0.0.1:9/");
    qputenv("COGITRA_ACCOUNT_ROOT", "http://127.0.0.1:9/account");
    EXPECT_EQ(RedirectUri(), QStringLiteral("http://127.0.0.1:9/account/oauth20_desktop.srf"));
    EXPECT_EQ(
        MLoginFlow::AuthorizeUrl(),
        QStringLiteral("http://127.0.0.1:9/common/oauth2/v2.0/authorize?prompt=login&client_id=")
            + ClientId()
            + QStringLiteral("&response_type=code&response_mode=query&scope=offline_access%20"
                             "User.Read%20Notes.Create%20Notes.ReadWrite%20Notes.ReadWrite.All"
                             "&redirect_uri=http://127.0.0.1:9/account/oauth20_desktop.srf"));
    EXPECT_EQ(LogoutUrl(), QStringLiteral("http://127.0.0.1:9/logout.srf"));
    qunsetenv("COGITRA_LOGIN_ROOT");
    qunsetenv("COGITRA_ACCOUNT_ROOT");
    EXPECT_EQ(RedirectUri(), QStringLiteral("https://login.live.com/oauth20_desktop.srf"));
    EXPECT_TRUE(MLoginFlow::AuthorizeUrl().startsWith(QStringLiteral(
        "https://login.microsoftonline.com/common/oauth2/v2.0/authorize?prompt=login&")));
}

} // namespace
} // namespace Cogitra
