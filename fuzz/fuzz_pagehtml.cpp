// The search of page HTML for the map's images, checked against a plain re-reading of the
// same rules over std::u16string: the first "<img" ... ">" element whose alt="..." is the
// wanted text, then the first src="..." or id="..." inside that element.
#include "FuzzSupport.h"

#include "attachment/TZetGifAttachment.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>

using namespace Cogitra;

namespace {

std::u16string Between(const std::u16string &text, std::u16string_view start,
                       std::u16string_view end)
{
    size_t p = text.find(start);
    if (p == std::u16string::npos)
        return {};
    p += start.size();
    const size_t q = text.find(end, p);
    if (q == std::u16string::npos)
        return {};
    return text.substr(p, q - p);
}

std::u16string Expected(const std::u16string &html, const std::u16string &wanted,
                        std::u16string_view attribute)
{
    if (wanted.empty())
        return {};
    size_t position = 0;
    for (;;) {
        const size_t start = html.find(u"<img", position);
        if (start == std::u16string::npos)
            return {};
        const size_t end = html.find(u'>', start + 4);
        if (end == std::u16string::npos)
            return {};
        const std::u16string element = html.substr(start, end + 1 - start);
        position = end + 1;
        if (Between(element, u"alt=\"", u"\"") == wanted)
            return Between(element, attribute, u"\"");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const int mode = input.ConsumeIntegralInRange(0, 3);
    QString wanted = mode == 2 ? QStringLiteral("ZetCogitra") : QStringLiteral("ZetGif");
    if (mode == 3)
        wanted = QString::fromStdString(input.ConsumeRandomLengthString(16));
    const std::string rest = input.ConsumeRemainingBytesAsString();
    const QString html = QString::fromUtf8(rest.data(), static_cast<qsizetype>(rest.size()));

    const std::u16string html16 = html.toStdU16String();
    const std::u16string wanted16 = wanted.toStdU16String();
    if (mode == 0) {
        const QString url = TZetGifAttachment::GetZetGifUrlFromPageHtml(html);
        FUZZ_CHECK(url.toStdU16String() == Expected(html16, wanted16, u"src=\""));
    } else {
        const QString id = TZetGifAttachment::GetZetGifIdFromPageHtml(html, wanted);
        FUZZ_CHECK(id.toStdU16String() == Expected(html16, wanted16, u"id=\""));
        FUZZ_CHECK(!id.contains(u'"') && !id.contains(u'>'));
    }
    return 0;
}
