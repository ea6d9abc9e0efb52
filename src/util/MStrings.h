#pragma once

#include <QString>

// The interface texts by key, from the string tables in resources/strings. A missing key
// looks up as the empty text.
namespace Cogitra {

// The table in use: "en" or "cn". The default follows the user's preferred language;
// COGITRA_LANG overrides it.
void SetLanguage(const QString &language);
[[nodiscard]] QString Language();

[[nodiscard]] QString LocalizedString(const QString &key);

} // namespace Cogitra
