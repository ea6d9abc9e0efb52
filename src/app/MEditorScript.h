#pragma once

#include <QString>

namespace Cogitra {

// The text that goes between the apostrophes of "SetJsonData('%@')": the map JSON with the
// horizontal blanks at both ends trimmed and every line feed and carriage return removed,
// escaped so that the literal's value is exactly that text.
[[nodiscard]] QString EscapeForJsString(const QString &json);

} // namespace Cogitra
