#include "app/MLoginFlow.h"
#include "online/MEndpoints.h"
#include "util/MConfig.h"
#include "util/MGlobals.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <tuple>

namespace Cogitra {
namespace {

class LoginFlowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetGlobalsForTesting();
        ASSERT_TRUE(dir.isValid());
        InitGlobals(dir.path());
        for (SharedText *value : {&g_AuthCode, &g_AccessToken, &g_RefreshToken, &g_AccountId,
                                  &g_UserId, &g_UserPrincipalName})
            value->set(QStringLiteral("old"));
        SaveAccountState();
    }
    void TearDown() override { ResetGlobalsForTesting(); }

    // Nothing of the sign-in is left, in memory or on disk, but the name shown.
    void expectSignedOut()
    {
        for (SharedText *value :
             {&g_AuthCode, &g_AccessToken, &g_RefreshToken, &g_AccountId, &g_UserId})
            EXPECT_TRUE(value->isEmpty());
        EXPECT_EQ(g_UserPrincipalName.get(), QStringLiteral("old"));
        MConfig stored(g_ConfigFile.get());
        for (const char *key :
             {"OnlineOneNoteAccessToken", "OnlineOneNoteRefreshToken", "OnlineOneNoteAccountId",
              "OnlineOneNoteUserId", "AuthCode", "UserPrincipalName"})
            EXPECT_EQ(stored.ReadValueDefStr(QString::fromLatin1(key), QString()).toString(),
                      *key == 'U' ? QStringLiteral("old") : QString())
                << key;
    }

    QTemporaryDir dir;
    MLoginFlow flow;
};

// Sign-out forgets the sign-in; a new one's window is closed by the redirect's code.
TEST_F(LoginFlowTest, SignOutStartsASignInThatTheRedirectsCodeEnds)
{
    flow.Logout();
    expectSignedOut();
    const auto out = flow.PageFinished(QStringLiteral("https://login.example/logout.srf"));
    EXPECT_TRUE(out.startLogin && !out.closeWindow);
    EXPECT_FALSE(flow.PageFinished(QStringLiteral("https://login.example/x")).startLogin);

    SetUp(); // signed in again
    flow.Login();
    expectSignedOut();
    const std::tuple<const char *, bool, const char *> pages[] = {
        {"https://login.example/common/oauth2/v2.0/authorize?client_id=x&username=a%40b.c", false,
         ""},
        {"https://account.example/oauth20_desktop.srf?lc=1&code=M.C9", false, ""}, // not first
        {"https://account.example/oauth20_desktop.srf?code=", true, ""},
        {"https://account.example/oauth20_desktop.srf?code=M.C9_x&lc=1033", true, "M.C9_x"},
        {"https://account.example/oauth20_desktop.srf?code=a%2Bb", true, "a%2Bb"}, // as sent
    };
    for (const auto &[url, closes, code] : pages) {
        g_AuthCode.set(QString());
        const auto outcome = flow.PageFinished(QString::fromLatin1(url));
        EXPECT_EQ(outcome.closeWindow, closes) << url;
        EXPECT_FALSE(outcome.startLogin);
        EXPECT_EQ(g_AuthCode.get(), QString::fromLatin1(code)) << url;
    }
    g_AuthCode.set(QString()); // the code lives in memory only
    expectSignedOut();
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
    EXPECT_TRUE(MLoginFlow::AuthorizeUrl().startsWith(QStringLiteral(
        "https://login.microsoftonline.com/common/oauth2/v2.0/authorize?prompt=login&")));
}

} // namespace
} // namespace Cogitra
