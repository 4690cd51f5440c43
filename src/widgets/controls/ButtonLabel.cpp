#include "widgets/controls/ButtonLabel.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMouseEvent>

namespace quenta {

ButtonLabel::ButtonLabel(QLabel *label, QAbstractButton *button)
    : QObject(label), label_(label), button_(button) {
    label->installEventFilter(this);
}

// A release of the left button over the label ends a click on it: the press was on the label too,
// since the widget pressed gets the release.
bool ButtonLabel::eventFilter(QObject *watched, QEvent *event) {
    if (watched != label_ || event->type() != QEvent::MouseButtonRelease) {
        return QObject::eventFilter(watched, event);
    }
    const auto &release = static_cast<const QMouseEvent &>(*event);
    if (release.button() != Qt::LeftButton ||
        !label_->rect().contains(release.position().toPoint())) {
        return QObject::eventFilter(watched, event);
    }
    button_->setFocus(Qt::MouseFocusReason);
    button_->click();
    return true;
}

} // namespace quenta
