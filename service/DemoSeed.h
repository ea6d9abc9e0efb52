#pragma once

#include "service/NotebookService.h"

#include <QByteArray>

#include <optional>

namespace Cogitra::Service {

inline constexpr char kDemoUser[] = "demo@cogitra.test";
inline constexpr char kDemoPassword[] = "cogitra-demo";

[[nodiscard]] std::optional<DemoAccount> SeedDemo(NotebookService &service);

// The map JSON that the demo's map page carries.
[[nodiscard]] QByteArray DemoMapJson();

// A small PNG picture (RGB, stored deflate blocks) for seeded pages and tests.
[[nodiscard]] QByteArray MakePng(int width, int height, quint32 rgbTop, quint32 rgbBottom);

} // namespace Cogitra::Service
