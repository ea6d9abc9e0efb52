#pragma once

#include <QString>

// The online endpoints. Each root is a build-time default that one environment variable
// overrides, so that tests and local runs can point the client at the local notebook
// service: COGITRA_GRAPH_ROOT, COGITRA_LOGIN_ROOT, COGITRA_ACCOUNT_ROOT. A root is a
// scheme and host (and port), without a trailing "/".
namespace Cogitra {

[[nodiscard]] QString GraphRoot();
[[nodiscard]] QString LoginRoot();
[[nodiscard]] QString AccountRoot();

// The identity platform's authorize and token endpoints ("common" tenant, v2.0) and its
// sign-out page.
[[nodiscard]] QString AuthorizeEndpointUrl();
[[nodiscard]] QString TokenEndpointUrl();
[[nodiscard]] QString LogoutUrl();
// The desktop-client redirect page; the sign-in window's authorize request and the code
// grant must carry the same text.
[[nodiscard]] QString RedirectUri();
// The Graph user resource of the token's owner.
[[nodiscard]] QString UserResourceUrl();

// True when the id holds no "-" (so also for the empty id).
[[nodiscard]] bool IsDashFreeUserId(const QString &userId);
// The Graph address of the signed-in user: ".../v1.0/me" for a dash-free id, otherwise
// ".../v1.0/users/" followed by the id, unchanged.
[[nodiscard]] QString GraphUserBaseUrl(const QString &userId);

// True when url lies under the Graph root (same scheme, host and port, then "/"). Only
// such URLs get the user's bearer token.
[[nodiscard]] bool IsGraphUrl(const QString &url);

} // namespace Cogitra
