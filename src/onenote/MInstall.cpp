#include "MInstall.h"

#include "MOneAppUtils.h"
#include "platform/IShell.h"
#include "util/MAlert.h"

#include <QLocale>

#include <array>
#include <utility>

namespace Cogitra {

namespace {

// Tested in order against the start of the identifier; the first match wins.
const std::array<std::pair<const char *, const char *>, 14> kMenuTitles = {{
    {"da", "Kopiér link for side"},
    {"de", "Link zu Seite kopieren"},
    {"es", "Copiar vínculo a la página"},
    {"fr", "Copier le lien vers la page"},
    {"it", "Copia collegamento della pagina"},
    {"nb", "Kopier kobling til side"},
    {"nl", "Koppeling naar pagina kopiëren"},
    {"pt-PT", "Copiar Link para Página"},
    {"sv", "Kopiera länk till sida"},
    {"ru", "Копировать ссылку на страницу"},
    {"ja", "ページへのリンクをコピー"},
    {"ko", "페이지에 대한 링크 복사"},
    {"zh-Hans", "复制指向页面的链接"},
    {"zh-Hant", "複製頁面連結"},
}};

} // namespace

bool InstallRequested(const QStringList &arguments)
{
    return arguments.size() >= 2 && arguments.mid(1).contains(QStringLiteral("install"));
}

QString CopyLinkMenuTitle(const QString &languageId)
{
    for (const auto &[prefix, title] : kMenuTitles) {
        if (languageId.startsWith(QLatin1String(prefix)))
            return QString::fromUtf8(title);
    }
    return QStringLiteral("Copy Link to Page");
}

QString ShortcutCommand(const QString &menuTitle)
{
    // -dict-add sets one entry; writing a whole dictionary would replace the user's other
    // key equivalents for OneNote.
    return QStringLiteral("/usr/bin/defaults write \"com.microsoft.onenote.mac\" "
                          "NSUserKeyEquivalents -dict-add \"")
           + menuTitle + QStringLiteral("\" \"@^p\"");
}

QString FirstPreferredLanguage()
{
    return QLocale::system().uiLanguages().value(0);
}

void InstallShortcut(const QStringList &arguments, const QString &firstPreferredLanguage,
                     const IProcessList &processes, IShell &shell)
{
    if (!InstallRequested(arguments))
        return;
    if (IsOneNoteRunning(processes))
        ShowMessage(QStringLiteral("Found the OneNote app is running. Please restart OneNote "
                                   "after the installation is complete."));
    // The exit status is not looked at: where OneNote or defaults is missing nothing happens.
    shell.run(ShortcutCommand(CopyLinkMenuTitle(firstPreferredLanguage)));
}

} // namespace Cogitra
