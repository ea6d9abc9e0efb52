#pragma once

#include <QTextEdit>

namespace Cogitra {

// A multi-line text view with the same four editing shortcuts as MTextField.
class MTextView : public QTextEdit
{
    Q_OBJECT
public:
    explicit MTextView(QWidget *parent = nullptr);

protected:
    bool event(QEvent *event) override;
};

} // namespace Cogitra
