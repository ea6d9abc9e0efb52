// The notebook tree and page lists as the service may send them: the name match against a
// table-driven re-reading of its rules, the account test, the walk of notebooks and section
// groups (with no token, so no page list is fetched and no page can be found), and page
// lists read, merged and read again.
#include "FuzzSupport.h"

#include "online/MCurlHandle.h"
#include "online/MGraphClient.h"
#include "online/MHttp.h"
#include "online/MPageLocator.h"
#include "online/MPageMatching.h"
#include "online/MTokenClient.h"
#include "util/MGlobals.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

using namespace Cogitra;

namespace {

bool Same(QChar a, QChar b)
{
    return a == b || a.toCaseFolded() == b.toCaseFolded();
}

// like[i][j]: the first i characters of the text match the first j of the pattern.
bool Like(const QString &text, const QString &pattern)
{
    const qsizetype n = text.size();
    const qsizetype m = pattern.size();
    std::vector<std::vector<bool>> like(n + 1, std::vector<bool>(m + 1, false));
    like[0][0] = true;
    for (qsizetype j = 1; j <= m; ++j)
        like[0][j] = like[0][j - 1] && pattern[j - 1] == u'*';
    for (qsizetype i = 1; i <= n; ++i) {
        for (qsizetype j = 1; j <= m; ++j) {
            const QChar p = pattern[j - 1];
            if (p == u'*')
                like[i][j] = like[i][j - 1] || like[i - 1][j];
            else
                like[i][j] = like[i - 1][j - 1] && (p == u'?' || Same(p, text[i - 1]));
        }
    }
    return like[n][m];
}

QString Text(FuzzedDataProvider &input, size_t maxLength)
{
    const std::string bytes = input.ConsumeRandomLengthString(maxLength);
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

MPageLocator &Locator()
{
    static MHttpClient http;
    static MTokenClient tokens(http);
    static MGraphClient graph(http, tokens);
    static MPageLocator locator(
        graph,
        QStringLiteral(
            "onenote:https://d.docs.live.net/5f3a9c0d2b7e4a61/Documents/Notebook/Group/S.one#T&"
            "section-id={1}&page-id={2}&end"));
    return locator;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    InitNetworking();
    g_AccessToken.set(QString());
    g_UserId.set(QString());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    switch (input.ConsumeIntegralInRange(0, 2)) {
    case 0: {
        const QString text = Text(input, 48);
        const std::string rest = input.ConsumeBytesAsString(48);
        const QString pattern = QString::fromUtf8(rest.data(), static_cast<qsizetype>(rest.size()));
        FUZZ_CHECK(IsLikeIgnoreCase(text, pattern) == Like(text, pattern));
        break;
    }
    case 1: {
        const QString notebook = Text(input, 24);
        const QString section = Text(input, 24);
        const QString account = Text(input, 24);
        const std::string rest = input.ConsumeRemainingBytesAsString();
        const std::optional<QByteArray> tree
            = QByteArray(rest.data(), static_cast<qsizetype>(rest.size()));
        const int64_t found = FoundAccountInJason(tree, account);
        FUZZ_CHECK(found >= -1 && found <= 1);
        FUZZ_CHECK(!Locator().GetOnlinePageInfo_LoopNotebooks(tree, notebook, section,
                                                              QStringLiteral("2")));
        FUZZ_CHECK(g_OnlinePageId.isEmpty());
        break;
    }
    default: {
        const QString clientId = Text(input, 40);
        const std::string rest = input.ConsumeRemainingBytesAsString();
        const QByteArray reply(rest.data(), static_cast<qsizetype>(rest.size()));
        QString pageId;
        QString sectionId;
        const bool found = GetOnlineId(reply, clientId, pageId, sectionId);
        const std::optional<MPageListPart> part = ParsePageListPart(reply);
        FUZZ_CHECK(!found || part.has_value());
        if (part) {
            const std::optional<MPageListPart> merged
                = ParsePageListPart(MergePageLists(reply, part->pages));
            FUZZ_CHECK(merged.has_value());
            FUZZ_CHECK(merged->pages.size() == part->pages.size());
            FUZZ_CHECK(merged->nextLink.isEmpty());
        }
        break;
    }
    }
    return 0;
}
