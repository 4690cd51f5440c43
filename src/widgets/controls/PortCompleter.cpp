#include "widgets/controls/PortCompleter.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScreen>
#include <QStringListModel>
#include <QStyleOptionViewItem>
#include <QWindow>

#include <algorithm>

namespace quenta {

PortCompleter::PortCompleter(QLineEdit *box, PortPlaces places)
    : QObject(box), box_(box), places_(std::move(places)), ports_(new QStringListModel(this)),
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
    // The completer places the list below the box and as wide as it whenever it opens or renews
    // the list; once placed, the list is fitted to its entries.
    if ((event->type() == QEvent::Show || event->type() == QEvent::Move) &&
        watched == completer_->popup()) {
        fitList();
    }
    return QObject::eventFilter(watched, event);
}

void PortCompleter::refresh() {
    ports_->setStringList(discoverPorts(places_));
}

// Makes the list as wide as its longest entry, but not narrower than the box nor wider than the
// box's screen, and moves it left as far as needed to keep it on that screen.
void PortCompleter::fitList() {
    QAbstractItemView *list = completer_->popup();
    const QRect screen = box_->screen()->availableGeometry();
    list->setFixedWidth(std::min(std::max(longestEntryWidth(), box_->width()), screen.width()));
    const QRect placed = list->geometry();
    if (placed.right() > screen.right()) {
        list->move(std::max(screen.left(), screen.right() + 1 - placed.width()), placed.top());
    }
}

// The width the list needs to show each entry whole, a scroll bar included when the entries are
// more than it shows at once; all entries count, not only those that match what was typed, so
// that the list keeps its width while the operator types.
int PortCompleter::longestEntryWidth() const {
    QAbstractItemView *list = completer_->popup();
    QStyleOptionViewItem option;
    option.initFrom(list);
    option.widget = list;
    int longest = 0;
    for (int row = 0; row < ports_->rowCount(); ++row) {
        longest =
            std::max(longest, list->itemDelegate()->sizeHint(option, ports_->index(row)).width());
    }
    const int scrollBar =
        ports_->rowCount() > completer_->maxVisibleItems()
            ? list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list)
            : 0;
    return longest + scrollBar + 2 * list->frameWidth();
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
