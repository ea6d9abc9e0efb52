#include "MStepCodes.h"

#include "MGlobals.h"

namespace Cogitra {

void RecordRunFailure(int64_t step, const char *key)
{
    g_StepCode.store(step);
    g_ErrorMessageKey.set(QString::fromLatin1(key));
    g_ErrorCode.store(step);
}

} // namespace Cogitra
