#include "widgets/controls/PortCompleter.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QStringListModel>
#include <QWindow>

namespace quenta {

PortCompleter::PortCompleter(QLineEdit *box, PortPlaces places)
    : QObject(box), places_(std::move(places)), ports_(new QStringListModel(this)),
      completer_(new QCompleter(ports_, this)) {
    completer_->setCaseSensitivity(Qt::CaseInsensitive);
    completer_->setFilterMode(Qt::MatchContains);
    box->setCompleter(completer_);
    box->installEventFilter(this);
    // Filters run last installed first: this one sees a press on the list before the completer,
    // which would swallow it. The toolkit replays such a press on some platforms only (not on X11);
    // its replay is left off so that this filter's is the one on every platform.
    completer_->popup()->installEventFilter(this);
    completer_->popup()->setAttribute(Qt::WA_NoMouseReplay);
}

bool PortCompleter::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::FocusIn && watched != completer_->popup()) {
        refresh();
    }
    if (event->type() == QEvent::MouseButtonPress && watched == completer_->popup()) {
        return pressBesideList(static_cast<const QMouseEvent &>(*event));
    }
    return QObject::eventFilter(watched, event);
}

void PortCompleter::refresh() {
    ports_->setStringList(discoverPorts(places_));
}

// Closes the list on a press beside it and hands the press on to the window under the pointer,
// once the list is gone, as if the list had never been there.
bool PortCompleter::pressBesideList(const QMouseEvent &press) {
    QWidget *list = completer_->popup();
    const QPoint global = press.globalPosition().toPoint();
    if (list->rect().contains(list->mapFromGlobal(global))) {
        return false;
    }
    list->hide();
    QWidget *target = QApplication::widgetAt(global);
    QWindow *window = target != nullptr ? target->window()->windowHandle() : nullptr;
    if (window != nullptr) {
        const QPointF local = window->mapFromGlobal(global);
        QCoreApplication::postEvent(window, new QMouseEvent(QEvent::MouseButtonPress, local, local,
                                                            press.globalPosition(), press.button(),
                                                            press.buttons(), press.modifiers(),
                                                            press.pointingDevice()));
    }
    return true;
}

} // namespace quenta
