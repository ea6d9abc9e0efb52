#include "MEndpoints.h"

#include "util/MUtils.h"

namespace Cogitra {
namespace {

QString RootFromEnvironment(const char *name, const char *fallback)
{
    QString root = qEnvironmentVariable(name);
    if (root.isEmpty())
        root = QString::fromLatin1(fallback);
    while (root.endsWith(u'/'))
        root.chop(1);
    return root;
}

} // namespace

QString GraphRoot()
{
    return RootFromEnvironment("COGITRA_GRAPH_ROOT", "https://graph.microsoft.com");
}

QString LoginRoot()
{
    return RootFromEnvironment("COGITRA_LOGIN_ROOT", "https://login.microsoftonline.com");
}

QString AccountRoot()
{
    return RootFromEnvironment("COGITRA_ACCOUNT_ROOT", "https://login.live.com");
}

QString AuthorizeEndpointUrl()
{
    return LoginRoot() + QStringLiteral("/common/oauth2/v2.0/authorize");
}

QString LogoutUrl()
{
    return LoginRoot() + QStringLiteral("/logout.srf");
}

QString TokenEndpointUrl()
{
    return LoginRoot() + QStringLiteral("/common/oauth2/v2.0/token");
}

QString RedirectUri()
{
    return AccountRoot() + QStringLiteral("/oauth20_desktop.srf");
}

QString UserResourceUrl()
{
    return GraphRoot() + QStringLiteral("/v1.0/me");
}

bool IsDashFreeUserId(const QString &userId)
{
    return !Contains(userId, QStringLiteral("-"));
}

QString GraphUserBaseUrl(const QString &userId)
{
    if (IsDashFreeUserId(userId))
        return GraphRoot() + QStringLiteral("/v1.0/me");
    return GraphRoot() + QStringLiteral("/v1.0/users/") + userId;
}

bool IsGraphUrl(const QString &url)
{
    // A text prefix rather than a parsed host: URL parsers disagree on odd authorities
    // ("\\", "@"), and the prefix up to the first "/" leaves no room for them.
    return url.startsWith(GraphRoot() + u'/', Qt::CaseInsensitive);
}

} // namespace Cogitra
