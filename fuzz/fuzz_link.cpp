// The OneNote link readers over any clipboard text: UTF-8 as the clipboard gives it, or raw
// UTF-16 with lone surrogates that no decoder would produce.
#include "FuzzSupport.h"

#include "onenote/MOLONUtils.h"

#include <QString>

#include <cstddef>
#include <cstdint>

using namespace Cogitra;

namespace {

QString TextOf(const uint8_t *data, size_t size)
{
    if (size == 0)
        return {};
    const char *bytes = reinterpret_cast<const char *>(data + 1);
    const auto length = static_cast<qsizetype>(size - 1);
    if (data[0] & 1)
        return QString::fromUtf8(bytes, length);
    return QString(reinterpret_cast<const QChar *>(bytes), length / 2);
}

bool Encodable(const QString &text)
{
    return QString::fromUtf8(text.toUtf8()) == text;
}

void CheckReaders(const QString &link)
{
    const QString pageId = PageIdFromLink(link);
    FUZZ_CHECK(pageId.isEmpty() || link.contains(pageId));

    const QString account = AccountIdFromLink(link);
    FUZZ_CHECK(!account.contains(u'/'));
    FUZZ_CHECK(account.isEmpty() || link.contains(account));

    const QString title = PageTitleFromLink(link);
    FUZZ_CHECK(!title.startsWith(QLatin1String("section-id=")));
    FUZZ_CHECK(title.size() <= link.size());

    FUZZ_CHECK(NotebookNameFromLink(link).size() <= link.size());
    FUZZ_CHECK(SectionNameFromLink(link).size() <= link.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString clip = TextOf(data, size);

    FUZZ_CHECK(IsOneNoteLink(clip) == clip.contains(QLatin1String("onenote:https://")));
    const QString link = NormalizeOneNoteLink(clip);
    FUZZ_CHECK(link.startsWith(QLatin1String("onenote:https://")));
    FUZZ_CHECK(NormalizeOneNoteLink(link) == link);

    CheckReaders(clip);
    CheckReaders(link);

    const QString decoded = PercentDecode(clip);
    FUZZ_CHECK(decoded.size() <= clip.size());
    if (!clip.contains(u'%') && Encodable(clip))
        FUZZ_CHECK(decoded == clip);
    return 0;
}
