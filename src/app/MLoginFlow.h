#pragma once

#include <QString>

namespace Cogitra {

// The sign-in window's logic, apart from its web view: the addresses it loads, the
// emptying of the account state when a sign-in starts, and what a finished page means.
class MLoginFlow
{
public:
    struct PageOutcome
    {
        bool closeWindow = false;
        bool startLogin = false;
    };

    // Empties the account state and saves it; the caller then clears cookies and caches
    // and loads AuthorizeUrl().
    void Login();
    // Empties the account state as Login does and remembers that the next finished page
    // (the sign-out page) starts a new sign-in; the caller loads LogoutUrl() (MEndpoints).
    void Logout();
    // For every finished load, with the main frame's address.
    [[nodiscard]] PageOutcome PageFinished(const QString &url);

    [[nodiscard]] bool loggingOut() const { return m_Logout; }

    // Signing out without a window: the account state and the name signed in with are
    // emptied and saved.
    static void SignOut();

    [[nodiscard]] static QString AuthorizeUrl();
    // The text after the first "name=" up to the next "&" or the end; not decoded.
    [[nodiscard]] static QString GetFieldValueFromURL(const QString &url, const QString &fieldName);

private:
    static void ClearAccountState();

    bool m_Logout = false;
};

} // namespace Cogitra
