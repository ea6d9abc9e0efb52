#include "OnlineTestSupport.h"

#include "attachment/TZetGifAttachment.h"
#include "online/MPageContent.h"
#include "util/MGlobals.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

using namespace Cogitra;
using namespace Cogitra::Testing;

namespace {

class SaveJob : public OnlineTest
{
protected:
    void ExpectOutcome(int64_t step, int64_t error, const char *key)
    {
        EXPECT_EQ(g_StepCode.load(), step);
        EXPECT_EQ(g_ErrorCode.load(), error);
        EXPECT_EQ(g_ErrorMessageKey.get(), QString::fromLatin1(key));
    }

    [[nodiscard]] QByteArray PatchTarget() const
    {
        return "/v1.0/me/onenote/pages/" + m_Page.id.toUtf8() + "/content";
    }

    // The element id the service gave the first image with this alternative text.
    [[nodiscard]] QString ImageId(const QString &alt) const
    {
        const QString html = m_Service->pageHtml(m_Page.id);
        const QRegularExpression image(QStringLiteral("<img[^>]*>"));
        for (auto it = image.globalMatch(html); it.hasNext();) {
            const QString element = it.next().captured();
            if (!element.contains(QStringLiteral("alt=\"") + alt + u'"'))
                continue;
            const QRegularExpression id(QStringLiteral(" id=\"([^\"]*)\""));
            return id.match(element).captured(1);
        }
        return QString();
    }

    [[nodiscard]] int ImageCount() const
    {
        return int(m_Service->pageHtml(m_Page.id).count(QStringLiteral("<img")));
    }
};

TEST_F(SaveJob, PageWithoutAMapGetsTwoAppendsPreviewFirst)
{
    SignIn();
    const QString png = PreviewPng();
    Save(m_Page.id, AwkwardMapJson(), png);

    ExpectOutcome(100, 0, "");
    EXPECT_EQ(g_PageTitle.get(), QStringLiteral("Weekly sync"));
    const std::vector<Request> requests = Requests();
    ASSERT_EQ(requests.size(), 6u); // the last reads back what the next save may replace
    EXPECT_EQ(requests[0].target, k_TreeTarget);
    EXPECT_EQ(requests[1].target, SectionPagesTarget(m_Section.id).toUtf8());
    EXPECT_EQ(requests[2].target, PatchTarget() + "?includeIDs=true");
    EXPECT_EQ(requests[3].method, QStringLiteral("PATCH"));
    EXPECT_EQ(requests[3].target, PatchTarget());
    EXPECT_EQ(requests[3].body,
              MPageContent::UpdateBody(QString(), png, QStringLiteral("ZetCogitra")));
    EXPECT_EQ(requests[4].method, QStringLiteral("PATCH"));
    EXPECT_EQ(requests[4].target, PatchTarget());
    // Packing is repeatable: the same map gives the same container.
    const QString container = TZetGifAttachment::Package(AwkwardMapJson());
    ASSERT_FALSE(container.isEmpty());
    EXPECT_EQ(requests[4].body, "[{'target':'body','action':'append','content':'<div><img "
                                "alt=\"ZetGif\" src=\"data:image/png;base64,"
                                    + container.toLatin1() + "\" /></div>'}]");
    for (const Request &request : requests) {
        EXPECT_EQ(request.authorization, "Bearer " + m_AccessToken.toUtf8());
        const QList<QByteArray> headers = ClientHeaderNames(request);
        if (request.method == QLatin1String("PATCH"))
            EXPECT_EQ(headers,
                      (QList<QByteArray>{"authorization", "content-type", "content-length"}));
        else
            EXPECT_EQ(headers, QList<QByteArray>{"authorization"});
    }
    EXPECT_EQ(ImageCount(), 2);
    EXPECT_FALSE(ImageId(QStringLiteral("ZetCogitra")).isEmpty());
    EXPECT_FALSE(ImageId(QStringLiteral("ZetGif")).isEmpty());
}

TEST_F(SaveJob, UpdateCarriesItsHeadersInOrder)
{
    SignIn();
    Save(m_Page.id, QStringLiteral("{}"), PreviewPng());
    ASSERT_EQ(g_StepCode.load(), 100);
    std::vector<Service::LoggedRequest> patches;
    for (const Service::LoggedRequest &request : m_Service->requestLog()) {
        if (request.method == QLatin1String("PATCH"))
            patches.push_back(request);
    }
    ASSERT_EQ(patches.size(), 2u);
    for (const Service::LoggedRequest &patch : patches) {
        EXPECT_EQ(patch.header("Content-Type"), "application/json");
        EXPECT_EQ(patch.header("Content-Length"), QByteArray::number(patch.body.size()));
        QList<QByteArray> names;
        for (const auto &header : patch.headers)
            names.append(header.first.toLower());
        const qsizetype authorization = names.indexOf("authorization");
        const qsizetype type = names.indexOf("content-type");
        const qsizetype length = names.indexOf("content-length");
        EXPECT_TRUE(authorization >= 0 && authorization < type && type < length)
            << names.join(' ').toStdString();
    }
}

TEST_F(SaveJob, SecondSaveReplacesBothImages)
{
    SignIn();
    Save(m_Page.id, QStringLiteral("{\"v\":1}"), PreviewPng());
    ASSERT_EQ(g_StepCode.load(), 100);
    const QString previewId = ImageId(QStringLiteral("ZetCogitra"));
    const QString containerId = ImageId(QStringLiteral("ZetGif"));
    ClearRequests();

    Save(m_Page.id, QStringLiteral("{\"v\":2}"), PreviewPng());
    ExpectOutcome(100, 0, "");
    const std::vector<Request> requests = Requests();
    ASSERT_EQ(requests.size(), 4u); // the page id is known: no location
    EXPECT_TRUE(requests[0].target.endsWith("/content?includeIDs=true"));
    const QByteArray replacePreview = "[{'target':'" + previewId.toUtf8() + "','action':'replace',";
    const QByteArray replaceContainer
        = "[{'target':'" + containerId.toUtf8() + "','action':'replace',";
    EXPECT_TRUE(requests[1].body.startsWith(replacePreview));
    EXPECT_TRUE(requests[2].body.startsWith(replaceContainer));
    EXPECT_EQ(ImageCount(), 2);
}

TEST_F(SaveJob, SaveRightAfterAnOpenSkipsLocation)
{
    SignIn();
    Open(m_Page.id);
    ASSERT_EQ(g_OnlinePageId.get(), m_Page.id);
    ClearRequests();
    Save(m_Page.id, QStringLiteral("{}"), PreviewPng());
    ExpectOutcome(100, 0, "");
    const std::vector<Request> requests = Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].method, QStringLiteral("GET"));
    EXPECT_EQ(requests[1].method, QStringLiteral("PATCH"));
    EXPECT_EQ(requests[2].method, QStringLiteral("PATCH"));
    EXPECT_EQ(requests[3].method, QStringLiteral("GET"));
}

TEST_F(SaveJob, MapComesBackByteForByte)
{
    SignIn();
    Save(m_Page.id, AwkwardMapJson(), PreviewPng());
    ASSERT_EQ(g_StepCode.load(), 100);

    // A fresh start: nothing cached, no page id, the data folder's files gone.
    ClearCache();
    g_OnlinePageId.set(QString());
    QFile::remove(QDir(g_AppDataDir.get()).filePath(QStringLiteral("ZetFile.gif")));
    Open(m_Page.id);
    EXPECT_EQ(g_StepCode.load(), -100);
    EXPECT_EQ(g_DownloadedMapJson.get().toUtf8(), AwkwardMapJson().toUtf8());
}

TEST_F(SaveJob, LocationFailureIsReportedAsNoPageId)
{
    SignIn();
    g_AccountId.set(QStringLiteral("0123456789ABCDEF"));
    Save(m_Page.id, QStringLiteral("{}"), PreviewPng());
    ExpectOutcome(20, 20, "errGetServerPageId");
    for (const Request &request : Requests())
        EXPECT_NE(request.method, QStringLiteral("PATCH"));
}

TEST_F(SaveJob, PageFoundWithoutAnIdIsReportedNotWritten)
{
    SignIn();
    Open(m_Page.id);
    ASSERT_EQ(g_OnlinePageId.get(), m_Page.id);
    // The cached list of the section holds the page without its online id.
    QFile list(CacheFile(m_Section.id + QStringLiteral(".json")));
    ASSERT_TRUE(list.open(QIODevice::ReadWrite));
    QJsonObject root = QJsonDocument::fromJson(list.readAll()).object();
    QJsonArray pages = root.value(QLatin1String("value")).toArray();
    ASSERT_FALSE(pages.isEmpty());
    for (qsizetype i = 0; i < pages.size(); ++i) {
        QJsonObject page = pages.at(i).toObject();
        page.remove(QLatin1String("id"));
        pages.replace(i, page);
    }
    root.insert(QLatin1String("value"), pages);
    ASSERT_TRUE(list.resize(0));
    ASSERT_GT(list.write(QJsonDocument(root).toJson()), 0);
    list.close();
    g_OnlinePageId.set(QString());
    ClearRequests();

    Save(m_Page.id, QStringLiteral("{}"), PreviewPng());
    ExpectOutcome(21, 21, "errGetServerPageId");
    EXPECT_TRUE(Requests().empty()); // both lists from the cache, nothing read or written
}

TEST_F(SaveJob, WithoutTokenAKnownPageEndsAtTheContentRead)
{
    g_OnlinePageId.set(m_Page.id);
    Save(m_Page.id, QStringLiteral("{}"), PreviewPng());
    ExpectOutcome(22, 22, "errGetContentError");
    EXPECT_EQ(g_OnlinePageId.get(), m_Page.id);
    EXPECT_TRUE(Requests().empty());
}

// A save of a known page that fails at one step: what it tells, and what it leaves on the
// page. A step that fails is not sent again behind the job's back, and nothing after it is.
struct SaveFailureCase
{
    const char *name;
    Service::FaultKind kind;
    int status; // of the fault; 0: no fault
    int times;  // requests the fault applies to; -1: all
    const char *route;
    int64_t step;
    const char *key;
    int imagesAfter;
    bool hugeMap = false;   // past what the service takes in one request (413)
    bool noDataDir = false; // the container cannot be written
};

class SaveFailure : public SaveJob, public ::testing::WithParamInterface<SaveFailureCase>
{
};

TEST_P(SaveFailure, IsToldAndStopsThere)
{
    const SaveFailureCase &row = GetParam();
    SignIn();
    g_OnlinePageId.set(m_Page.id);
    if (row.status != 0) {
        Service::Fault fault;
        fault.kind = row.kind;
        fault.status = row.status;
        fault.times = row.times;
        m_Service->setFault(QString::fromLatin1(row.route), fault);
    }
    if (row.noDataDir)
        g_AppDataDir.set(m_AppDir.filePath(QStringLiteral("missing/folder")));
    const QString json = row.hugeMap ? QStringLiteral("{\"t\":\"") + QString(13 * 1024 * 1024, u'x')
                                           + QStringLiteral("\"}")
                                     : QStringLiteral("{}");
    Save(m_Page.id, json, PreviewPng());
    ExpectOutcome(row.step, row.step, row.key);
    EXPECT_EQ(ImageCount(), row.imagesAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SaveFailure,
    ::testing::Values(SaveFailureCase{"UnreadablePage", Service::FaultKind::Status, 503, -1,
                                      "pageContent", 22, "errGetContentError", 0},
                      SaveFailureCase{"RefusedPreview", Service::FaultKind::Status, 400, 1,
                                      "patchContent", 24, "errUploadFailed", 0},
                      // The first may have been carried out: a dropped upload is not sent again.
                      SaveFailureCase{"PreviewLostInTransport", Service::FaultKind::Drop, 500, 1,
                                      "patchContent", 24, "errUploadFailed", 0},
                      SaveFailureCase{"PackingFailure", Service::FaultKind::Status, 0, 0, "", 25,
                                      "errPackageFailed", 1, false, true},
                      SaveFailureCase{"RefusedContainer", Service::FaultKind::Status, 0, 0, "", 30,
                                      "errUploadFailed", 1, true}),
    [](const auto &param) { return std::string(param.param.name); });

} // namespace
