#pragma once

#include <QString>
#include <QVariant>

#include <functional>

namespace Cogitra {

// The editor web page as the application logic sees it. Scripts answer asynchronously,
// on the main thread, in the order they were evaluated.
class IEditorPage
{
public:
    using ScriptResult = std::function<void(const QVariant &result)>;

    virtual ~IEditorPage() = default;

    virtual void evaluate(const QString &script, ScriptResult done = {}) = 0;
    // Loads the address afresh, ignoring cached data.
    virtual void load(const QString &url) = 0;
    // The main frame's address and title as they are now; the empty text when none.
    [[nodiscard]] virtual QString mainFrameUrl() const = 0;
    [[nodiscard]] virtual QString mainFrameTitle() const = 0;
};

} // namespace Cogitra
