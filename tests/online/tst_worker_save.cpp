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
        if (request.method != QLatin1String("PATCH")) {
            EXPECT_EQ(headers, QList<QByteArray>{"authorization"});
            continue;
        }
        EXPECT_EQ(headers, (QList<QByteArray>{"authorization", "content-type", "content-length"}));
        const auto value = [&request](const QByteArray &name) {
            for (const auto &[key, text] : request.headers) {
                if (key.toLower() == name)
                    return text;
            }
            return QByteArray();
        };
        EXPECT_EQ(value("content-type"), "application/json");
        EXPECT_EQ(value("content-length"), QByteArray::number(request.body.size()));
    }
    EXPECT_EQ(ImageCount(), 2);
    EXPECT_FALSE(ImageId(QStringLiteral("ZetCogitra")).isEmpty());
    EXPECT_FALSE(ImageId(QStringLiteral("ZetGif")).isEmpty());
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

// A save that fails at one step: what it tells, and what it leaves on the page.
enum class Arrange { OtherAccount, SignedOutKnownPage, NoDataFolder, HugeMap };

struct SaveFailureCase
{
    const char *name;
    Arrange arrange;
    int64_t step;
    const char *key;
    int imagesAfter;
};

class SaveFailure : public SaveJob, public ::testing::WithParamInterface<SaveFailureCase>
{
};

TEST_P(SaveFailure, IsToldAndStopsThere)
{
    const SaveFailureCase &row = GetParam();
    QString json = QStringLiteral("{}");
    if (row.arrange != Arrange::SignedOutKnownPage)
        SignIn();
    if (row.arrange != Arrange::OtherAccount)
        g_OnlinePageId.set(m_Page.id);
    switch (row.arrange) {
    case Arrange::OtherAccount:
        g_AccountId.set(QStringLiteral("0123456789ABCDEF"));
        break;
    case Arrange::SignedOutKnownPage:
        break;
    case Arrange::NoDataFolder: // the container cannot be written
        g_AppDataDir.set(m_AppDir.filePath(QStringLiteral("missing/folder")));
        break;
    case Arrange::HugeMap: // past what the service takes in one request (413)
        json = QStringLiteral("{\"t\":\"") + QString(13 * 1024 * 1024, u'x') + u"\"}";
        break;
    }
    Save(m_Page.id, json, PreviewPng());
    ExpectOutcome(row.step, row.step, row.key);
    EXPECT_EQ(ImageCount(), row.imagesAfter);
    EXPECT_EQ(Requests().empty(), row.arrange == Arrange::SignedOutKnownPage);
    EXPECT_EQ(g_OnlinePageId.get(), row.arrange == Arrange::OtherAccount ? QString() : m_Page.id);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SaveFailure,
    ::testing::Values(
        SaveFailureCase{"NotLocated", Arrange::OtherAccount, 20, "errGetServerPageId", 0},
        SaveFailureCase{"SignedOutEndsAtTheContentRead", Arrange::SignedOutKnownPage, 22,
                        "errGetContentError", 0},
        SaveFailureCase{"PackingFailure", Arrange::NoDataFolder, 25, "errPackageFailed", 1},
        SaveFailureCase{"RefusedContainer", Arrange::HugeMap, 30, "errUploadFailed", 1}),
    [](const auto &param) { return std::string(param.param.name); });

} // namespace
