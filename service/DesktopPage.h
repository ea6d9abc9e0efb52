#pragma once

#include <string>

namespace Cogitra::Service {

// The desktop notebook page (HTML, style and script in one document).
[[nodiscard]] const std::string &DesktopPageHtml();

} // namespace Cogitra::Service
