#pragma once

#include "io/PortDiscovery.h"

#include <QObject>

class QCompleter;
class QLineEdit;
class QStringListModel;

namespace quenta {

// Offers the ports there are as completions of a port box while the operator types. The list is
// looked up anew each time the box gets the focus; the box's text is never touched.
class PortCompleter : public QObject {
    Q_OBJECT
public:
    explicit PortCompleter(QLineEdit *box, PortPlaces places = defaultPortPlaces());

    QCompleter *completer() const { return completer_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void refresh();

    PortPlaces places_;
    QStringListModel *ports_;
    QCompleter *completer_;
};

} // namespace quenta
