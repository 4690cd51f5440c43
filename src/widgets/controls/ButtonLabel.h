#pragma once

#include <QObject>

class QAbstractButton;
class QLabel;

namespace quenta {

// Lets a label stand for the button it names: a click on the label is a click on the button, which
// takes the focus as it would under the mouse. The label keeps its text, tooltip and place, and
// still takes no focus of its own.
class ButtonLabel : public QObject {
    Q_OBJECT
public:
    ButtonLabel(QLabel *label, QAbstractButton *button);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLabel *label_;
    QAbstractButton *button_;
};

} // namespace quenta
