#pragma once

#include "ServiceFixture.h"
#include "online/MHttp.h"
#include "online/MThreadOnlineOneNote.h"
#include "util/MConfig.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

// The client against the in-process notebook service and one seeded account.
namespace Cogitra::Testing {

using Request = Service::LoggedRequest;
using Headers = QList<QPair<QByteArray, QByteArray>>;

class OnlineTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override { m_Fixture.stop(); }

    void SignIn() { SignIn(m_Account, m_Page.id); }
    void SignIn(const Service::Account &account, const QString &pageId);
    [[nodiscard]] MWorkerProperties PageProperties(const QString &pageId, bool open) const;
    void RunJob(const MWorkerProperties &properties);
    void Open(const QString &pageId) { RunJob(PageProperties(pageId, true)); }
    void Save(const QString &pageId, const QString &json, const QString &png);
    void PutMap(const QString &json); // saved, then Reset()
    void Reset(); // the cache, the request log, and the last job's page and error
    // The job ended at step, telling key (empty: nothing; then no error code either).
    void ExpectOutcome(int64_t step, const char *key);

    [[nodiscard]] std::vector<Request> Requests() const { return m_Service->requestLog(); }
    [[nodiscard]] QList<QByteArray> Targets() const;
    [[nodiscard]] int Count(const QByteArray &target) const { return Targets().count(target); }
    // The headers beyond libcurl's own (Host, Accept, Accept-Encoding), in the order received.
    [[nodiscard]] static Headers ClientHeaders(const Request &request);
    // Each request carries the access token and only what its method needs beside it.
    void ExpectAuthorized(const QString &accessToken) const;
    void ClearRequests() { m_Service->clearRequestLog(); }
    void ClearCache();
    [[nodiscard]] static QString CacheFile(const QString &name)
    {
        return QDir(g_CacheDir.get()).filePath(name);
    }
    [[nodiscard]] static QString ConfigValue(const QString &key)
    {
        return MConfig(g_ConfigFile.get())
            .ReadValueDefStr(key, QStringLiteral("<absent>"))
            .toString();
    }
    [[nodiscard]] static QByteArray SectionPagesTarget(const QString &sectionId)
    {
        return "/v1.0/me/onenote/sections/" + sectionId.toUtf8() + "/pages?top=100";
    }
    [[nodiscard]] QByteArray ContentTarget(bool read = true) const
    {
        return "/v1.0/me/onenote/pages/" + m_Page.id.toUtf8()
               + (read ? "/content?includeIDs=true" : "/content");
    }

    static const QByteArray k_TreeTarget;

    ServiceFixture m_Fixture;
    QTemporaryDir m_AppDir;
    Service::NotebookService *m_Service = nullptr;
    Service::Account m_Account;
    Service::Notebook m_Notebook;
    Service::Section m_Section;
    Service::Page m_Page;
    QString m_AccessToken;
    QString m_RefreshToken;
    int64_t m_NextTryAt = 0; // the first next try the last job announced, ms since the epoch
};

// A preview as the editor sends it, and a map with the texts that break naive quoting.
[[nodiscard]] QString PreviewPng();
[[nodiscard]] QString AwkwardMapJson();

} // namespace Cogitra::Testing
