#include "MGlobals.h"

#include "MConfig.h"
#include "MStrings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#ifndef COGITRA_CLIENT_ID
#error "COGITRA_CLIENT_ID must be defined by the build"
#endif

namespace Cogitra {

SharedText g_ConfigFile(QStringLiteral("zetapp.plist"));
SharedText g_AppDataDir;
SharedText g_CacheDir;

SharedText g_AccessToken;
SharedText g_RefreshToken;
SharedText g_AccountId;
SharedText g_UserId;
SharedText g_UserPrincipalName;
SharedText g_Host;
SharedText g_AuthCode;
SharedText g_ErrorMessageKey;
SharedText g_DownloadedMapJson;
SharedText g_OnlinePageId;
SharedText g_PageTitle;
SharedText g_MapAddress;

std::atomic<int64_t> g_StepCode{0};
std::atomic<int64_t> g_ErrorCode{0};
std::atomic<uint8_t> g_WorkerFinished{0};
std::atomic<int64_t> g_NextTryAtMs{0};

namespace {

const QString kKeyAccessToken = QStringLiteral("OnlineOneNoteAccessToken");
const QString kKeyRefreshToken = QStringLiteral("OnlineOneNoteRefreshToken");
const QString kKeyAccountId = QStringLiteral("OnlineOneNoteAccountId");
const QString kKeyUserId = QStringLiteral("OnlineOneNoteUserId");
const QString kKeyUserPrincipalName = QStringLiteral("UserPrincipalName");
const QString kKeyHost = QStringLiteral("Host");

// Deployment values; the application installs its embedded editor host in their place.
const QString kDefaultEditorHost = QStringLiteral("editor.ardentis.app");
const QString kDefaultEditorHostCn = QStringLiteral("editor.ardentis.cn");

// The refresh token as this process last read it from the file or wrote it there: a file
// that holds another one was written by another program since.
SharedText s_FileRefreshToken;

// A text value of the file, or null when the key is missing or holds no text.
QString TextOf(const MConfig &config, const QString &key)
{
    const QVariant value = config.ReadValueDefStr(key, QVariant());
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

// The file's tokens replace this process's when another program changed them and this one
// did not change its own since.
bool AdoptFrom(const MConfig &config)
{
    const QString known = s_FileRefreshToken.get();
    const QString stored = TextOf(config, kKeyRefreshToken);
    if (!config.hasDictionary() || stored == known || g_RefreshToken.get() != known)
        return false;
    g_AccessToken.set(TextOf(config, kKeyAccessToken));
    g_RefreshToken.set(stored);
    s_FileRefreshToken.set(stored);
    // Another user signed in there: tokens of one account with the ids of another would
    // open the wrong account's pages.
    const QString user = TextOf(config, kKeyUserId);
    if (user != g_UserId.get()) {
        g_UserId.set(user);
        g_UserPrincipalName.set(TextOf(config, kKeyUserPrincipalName));
        g_AccountId.set(TextOf(config, kKeyAccountId));
    }
    return true;
}

struct DefaultHosts
{
    std::mutex mutex;
    QString defaultHost = kDefaultEditorHost;
    QString cnHost = kDefaultEditorHostCn;
};

DefaultHosts &Hosts()
{
    static DefaultHosts hosts;
    return hosts;
}

const QFileDevice::Permissions kOwnerOnly
    = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

// Creates the folder with its parents; the folder itself is the owner's alone. Failures
// are ignored: later file operations in the folder fail in their own place.
void MakeOwnerFolder(const QString &path)
{
    QDir dir(path);
    if (!dir.exists()) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (!QDir().mkdir(path, kOwnerOnly))
            return;
    }
    QFile::setPermissions(path, kOwnerOnly);
}

// A stored value replaces a shared text only when it is a text; a number or a list under
// an account key (a hand-edited or foreign file) keeps the current value.
void LoadText(const MConfig &config, const QString &key, SharedText &target)
{
    const QString current = target.get();
    const QVariant value = config.ReadValueDefStr(key, current);
    target.set(value.typeId() == QMetaType::QString ? value.toString() : current);
}

} // namespace

QString ClientId()
{
    return QStringLiteral(COGITRA_CLIENT_ID);
}

void PublishWorkerFinished()
{
    g_WorkerFinished.store(1, std::memory_order_release);
}

void MarkWorkerStarted()
{
    g_WorkerFinished.store(0, std::memory_order_release);
}

bool WorkerFinished()
{
    return g_WorkerFinished.load(std::memory_order_acquire) == 1;
}

void InitGlobals(const QString &dataRoot)
{
    QString root = dataRoot;
    if (root.isEmpty())
        root = qEnvironmentVariable("COGITRA_DATA_ROOT");
    if (root.isEmpty())
        root = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    QString appName = QCoreApplication::applicationName();
    if (appName.isEmpty())
        appName = QStringLiteral("Cogitra");

    const QString dataDir = QDir::cleanPath(root + u"/Ardentis/" + appName);
    MakeOwnerFolder(dataDir);
    g_AppDataDir.set(dataDir);
    g_ConfigFile.set(dataDir + u"/zetapp.plist");
    const QString cacheDir = dataDir + u"/jCache";
    MakeOwnerFolder(cacheDir);
    g_CacheDir.set(cacheDir);

    LoadAccountState();
    ChooseDefaultHost();
}

void LoadAccountState()
{
    const MConfig config(g_ConfigFile.get());
    LoadText(config, kKeyAccessToken, g_AccessToken);
    LoadText(config, kKeyRefreshToken, g_RefreshToken);
    LoadText(config, kKeyAccountId, g_AccountId);
    LoadText(config, kKeyUserId, g_UserId);
    LoadText(config, kKeyUserPrincipalName, g_UserPrincipalName);
    const QVariant host = config.ReadValueDefStr(kKeyHost, QString());
    g_Host.set(host.typeId() == QMetaType::QString ? host.toString() : QString());
    s_FileRefreshToken.set(g_RefreshToken.get());
}

bool AdoptRenewedTokens()
{
    return AdoptFrom(MConfig(g_ConfigFile.get()));
}

void SaveAccountState()
{
    const QString fileName = g_ConfigFile.get();
    const MConfigLock lock(fileName);
    MConfig config(fileName);
    (void)AdoptFrom(config);
    config.WriteValueStr(kKeyAccessToken, g_AccessToken.get());
    config.WriteValueStr(kKeyRefreshToken, g_RefreshToken.get());
    config.WriteValueStr(kKeyAccountId, g_AccountId.get());
    config.WriteValueStr(kKeyUserId, g_UserId.get());
    config.WriteValueStr(kKeyUserPrincipalName, g_UserPrincipalName.get());
    if (config.Save())
        s_FileRefreshToken.set(g_RefreshToken.get());
}

void ChooseDefaultHost()
{
    if (!g_Host.isEmpty())
        return;
    const bool chinese = LocalizedString(QStringLiteral("local")) == u"cn";
    DefaultHosts &hosts = Hosts();
    std::scoped_lock lock(hosts.mutex);
    g_Host.set(chinese ? hosts.cnHost : hosts.defaultHost);
}

QString ChosenEditorHost()
{
    return TextOf(MConfig(g_ConfigFile.get()), kKeyHost);
}

bool ForgetChosenEditorHost()
{
    const QString fileName = g_ConfigFile.get();
    const MConfigLock lock(fileName);
    MConfig config(fileName);
    config.RemoveValue(kKeyHost);
    g_Host.set(QString());
    ChooseDefaultHost();
    return config.Save();
}

QString EditorPageUrl(const QString &host, const QString &local)
{
    return u"http://" + host + u"/km/v1.0/" + local + u"/index-mac.html";
}

void SetDefaultEditorHosts(const QString &defaultHost, const QString &cnHost)
{
    DefaultHosts &hosts = Hosts();
    std::scoped_lock lock(hosts.mutex);
    hosts.defaultHost = defaultHost;
    hosts.cnHost = cnHost;
}

void ResetGlobalsForTesting()
{
    g_ConfigFile.set(QStringLiteral("zetapp.plist"));
    for (SharedText *text :
         {&g_AppDataDir, &g_CacheDir, &g_AccessToken, &g_RefreshToken, &g_AccountId, &g_UserId,
          &g_UserPrincipalName, &g_Host, &g_AuthCode, &g_ErrorMessageKey, &g_DownloadedMapJson,
          &g_OnlinePageId, &g_PageTitle, &s_FileRefreshToken, &g_MapAddress})
        text->set(QString());
    g_StepCode.store(0);
    g_ErrorCode.store(0);
    g_WorkerFinished.store(0);
    g_NextTryAtMs.store(0);
    SetDefaultEditorHosts(kDefaultEditorHost, kDefaultEditorHostCn);
}

} // namespace Cogitra
