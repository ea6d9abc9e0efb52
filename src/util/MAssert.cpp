#include "MAssert.h"

#include <QDebug>

namespace Cogitra::Internal {

void WriteAssertLocation(const char *condition, const char *file, int line)
{
    qWarning("Cogitra: soft assertion \"%s\" failed at %s:%d", condition, file, line);
}

} // namespace Cogitra::Internal
