#include "MLoginFlow.h"

#include "online/MEndpoints.h"
#include "util/MGlobals.h"
#include "util/MUtils.h"

namespace Cogitra {

namespace {

// The legacy ASCII escaping of the scope: only its blanks change.
const char *const EscapedScope = "offline_access%20User.Read%20Notes.Create%20Notes.ReadWrite%20"
                                 "Notes.ReadWrite.All";

} // namespace

QString MLoginFlow::AuthorizeUrl()
{
    return AuthorizeEndpointUrl()
           + QStringLiteral("?prompt=login&client_id=%1&response_type=code&response_mode=query"
                            "&scope=%2&redirect_uri=%3")
                 .arg(ClientId(), QString::fromLatin1(EscapedScope), RedirectUri());
}

QString MLoginFlow::GetFieldValueFromURL(const QString &url, const QString &fieldName)
{
    const QString key = fieldName + QLatin1Char('=');
    if (!Contains(url, key))
        return QString();
    const qsizetype start = url.indexOf(key) + key.size();
    const qsizetype end = url.indexOf(QLatin1Char('&'), start);
    return end < 0 ? url.mid(start) : url.mid(start, end - start);
}

void MLoginFlow::ClearAccountState()
{
    g_AuthCode.set(QString());
    g_AccessToken.set(QString());
    g_RefreshToken.set(QString());
    g_AccountId.set(QString());
    g_UserId.set(QString());
    SaveAccountState();
}

void MLoginFlow::SignOut()
{
    g_UserPrincipalName.set(QString());
    ClearAccountState();
}

void MLoginFlow::Login()
{
    ClearAccountState();
}

void MLoginFlow::Logout()
{
    m_Logout = true;
    ClearAccountState();
}

MLoginFlow::PageOutcome MLoginFlow::PageFinished(const QString &url)
{
    PageOutcome outcome;
    if (!url.isEmpty()) {
        // The sign-in name is in the address too; the user lookup after the code
        // exchange supplies the name the application shows, so nothing is kept of it.
        if (Contains(url, QStringLiteral("?code="))) {
            const QString code = GetFieldValueFromURL(url, QStringLiteral("code"));
            if (!code.isEmpty())
                g_AuthCode.set(code);
            outcome.closeWindow = true;
        }
    }
    if (m_Logout) {
        m_Logout = false;
        outcome.startLogin = true;
    }
    return outcome;
}

} // namespace Cogitra
