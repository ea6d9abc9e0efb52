#pragma once

#include <QString>

namespace Cogitra {

// The text that goes between the apostrophes of "SetJsonData('%@')": the map JSON,
// trimmed, without line breaks, escaped so that the literal's value is exactly that text.
[[nodiscard]] QString EscapeForJsString(const QString &json);

} // namespace Cogitra
