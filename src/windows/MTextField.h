#pragma once

#include <QLineEdit>

namespace Cogitra {

// A text field whose Ctrl+X/C/V/A reach the focused widget of its window even where no
// menu offers those commands.
class MTextField : public QLineEdit
{
    Q_OBJECT
public:
    explicit MTextField(QWidget *parent = nullptr);

protected:
    bool event(QEvent *event) override;
};

} // namespace Cogitra
