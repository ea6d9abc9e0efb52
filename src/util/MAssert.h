#pragma once

#include <QtGlobal>

// A soft assert for branches that cannot happen: it logs where the condition failed and
// runs the fallback instead of ending a user's session. Use it as a statement:
//     COGITRA_ASSERT(index >= 0, return QString());
#define COGITRA_ASSERT(cond, action)                                                               \
    if (Q_LIKELY(cond)) {                                                                          \
    } else {                                                                                       \
        ::Cogitra::Internal::WriteAssertLocation(#cond, __FILE__, __LINE__);                       \
        action;                                                                                    \
    }                                                                                              \
    do {                                                                                           \
    } while (false)

namespace Cogitra::Internal {

void WriteAssertLocation(const char *condition, const char *file, int line);

} // namespace Cogitra::Internal
