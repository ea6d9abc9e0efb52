#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// The interface texts by key, from the string tables in resources/strings. A missing key
// looks up as the empty text.
namespace Cogitra {

// The table in use: "en" or "cn". The default follows the user's preferred language;
// COGITRA_LANG overrides it. Another value leaves the language unchanged.
void SetLanguage(const QString &language);
[[nodiscard]] QString Language();

[[nodiscard]] QString LocalizedString(const QString &key);

// The compiled-in table of a language ("en", "cn"); empty for another language.
[[nodiscard]] QHash<QString, QString> StringTable(const QString &language);

// Reads a table in the `"key" = "text";` form, one entry a line, with blank lines and
// one-line comments (/* ... */ or // ...) between them. Text escapes: \" \\ \n \t \r.
// Every line that is none of these, and every repeated key, is reported in problems
// (1-based line number and the reason) and left out of the result.
[[nodiscard]] QHash<QString, QString> ParseStringTable(const QString &text,
                                                       QStringList *problems = nullptr);

namespace Internal {

// The language for COGITRA_LANG's value and the user's preferred languages (BCP 47 tags,
// most preferred first): a forced "en" or "cn" wins, then the first preferred English or
// Chinese, then English.
[[nodiscard]] QString ChooseLanguage(const QString &forced, const QStringList &preferred);

} // namespace Internal

} // namespace Cogitra
