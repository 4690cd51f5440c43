#include "widgets/controls/PortCompleter.h"

#include <QCompleter>
#include <QEvent>
#include <QLineEdit>
#include <QStringListModel>

namespace quenta {

PortCompleter::PortCompleter(QLineEdit *box, PortPlaces places)
    : QObject(box), places_(std::move(places)), ports_(new QStringListModel(this)),
      completer_(new QCompleter(ports_, this)) {
    completer_->setCaseSensitivity(Qt::CaseInsensitive);
    completer_->setFilterMode(Qt::MatchContains);
    box->setCompleter(completer_);
    box->installEventFilter(this);
}

bool PortCompleter::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::FocusIn) {
        refresh();
    }
    return QObject::eventFilter(watched, event);
}

void PortCompleter::refresh() {
    ports_->setStringList(discoverPorts(places_));
}

} // namespace quenta
