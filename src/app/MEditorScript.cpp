#include "MEditorScript.h"

namespace Cogitra {

QString EscapeForJsString(const QString &json)
{
    // Written with the editor page.
    return json;
}

} // namespace Cogitra
