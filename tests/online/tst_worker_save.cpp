#include "OnlineTestSupport.h"

#include "attachment/TZetGifAttachment.h"
#include "online/MPageContent.h"
#include "util/MGlobals.h"

using namespace Cogitra;
using namespace Cogitra::Testing;

namespace {

class SaveJob : public OnlineTest
{
protected:
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

    ExpectOutcome(100, "");
    EXPECT_EQ(g_PageTitle.get(), QStringLiteral("Weekly sync"));
    // The last reads back what the next save may replace.
    EXPECT_EQ(Targets(), (QList<QByteArray>{k_TreeTarget, SectionPagesTarget(m_Section.id).toUtf8(),
                                            ContentTarget(), ContentTarget(false),
                                            ContentTarget(false), ContentTarget()}));
    const std::vector<Request> requests = Requests();
    ASSERT_EQ(requests.size(), 6u);
    EXPECT_EQ(requests[3].body,
              MPageContent::UpdateBody(QString(), png, QStringLiteral("ZetCogitra")));
    // Packing is repeatable: the same map gives the same container.
    const QString container = TZetGifAttachment::Package(AwkwardMapJson());
    ASSERT_FALSE(container.isEmpty());
    EXPECT_EQ(requests[4].body, "[{'target':'body','action':'append','content':'<div><img "
                                "alt=\"ZetGif\" src=\"data:image/png;base64,"
                                    + container.toLatin1() + "\" /></div>'}]");
    ExpectAuthorized(m_AccessToken);
    EXPECT_EQ(ImageCount(), 2);
}

TEST_F(SaveJob, PageFoundWithoutAnIdIsReportedNotWritten)
{
    SignIn();
    Open(m_Page.id);
    ASSERT_EQ(g_OnlinePageId.get(), m_Page.id);
    // The cached list of the section holds the page without its online id.
    const QString list = CacheFile(m_Section.id + QStringLiteral(".json"));
    const QByteArray id = "\"id\":\"" + m_Page.id.toUtf8() + '"';
    QByteArray pages = ReadWholeFile(list).value_or("");
    ASSERT_TRUE(pages.contains(id));
    ASSERT_TRUE(WriteWholeFile(list, pages.replace(id, "\"_\":0")));
    g_OnlinePageId.set(QString());
    ClearRequests();

    Save(m_Page.id, QStringLiteral("{}"), PreviewPng());
    ExpectOutcome(21, "errGetServerPageId");
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
    ExpectOutcome(row.step, row.key);
    EXPECT_EQ(ImageCount(), row.imagesAfter);
    EXPECT_EQ(Requests().empty(), row.arrange == Arrange::SignedOutKnownPage);
    EXPECT_EQ(g_OnlinePageId.get(), row.arrange == Arrange::OtherAccount ? QString() : m_Page.id);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Steps, SaveFailure, ::testing::Values(
    SaveFailureCase{"NotLocated", Arrange::OtherAccount, 20, "errGetServerPageId", 0},
    SaveFailureCase{"SignedOutEndsAtTheContentRead", Arrange::SignedOutKnownPage, 22, "errGetContentError", 0},
    SaveFailureCase{"PackingFailure", Arrange::NoDataFolder, 25, "errPackageFailed", 1},
    SaveFailureCase{"RefusedContainer", Arrange::HugeMap, 30, "errUploadFailed", 1}),
    [](const auto &param) { return std::string(param.param.name); });
// clang-format on

} // namespace
