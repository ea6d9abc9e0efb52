#pragma once

#include <QByteArray>
#include <QJsonValue>

#include <optional>

namespace Cogitra::Service {

// Reads JSON as the notebook service's PATCH endpoint accepts it: standard JSON, and also
// the single-quoted form of Microsoft's own samples ({'target':'body',...}), where a
// single-quoted string may hold double quotes. Bounded in depth and by the input's length;
// anything else is no value.
[[nodiscard]] std::optional<QJsonValue> ParseLooseJson(const QByteArray &text);

} // namespace Cogitra::Service
