#pragma once

#include "io/port/PortDiscovery.h"

#include <QObject>

class QCompleter;
class QLineEdit;
class QMouseEvent;
class QStringListModel;

namespace quenta {

// Offers the ports there are as completions of a port box while the operator types. The list is
// looked up anew each time the box gets the focus; the box's text is never touched. The list opens
// as wide as its longest entry, within the screen, even below a narrow box. A click beside the open
// list closes it and still reaches what it points at, so that one click on a button presses it.
class PortCompleter : public QObject {
    Q_OBJECT
public:
    explicit PortCompleter(QLineEdit *box, PortPlaces places = defaultPortPlaces());

    QCompleter *completer() const { return completer_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void refresh();
    bool pressBesideList(const QMouseEvent &press);
    void fitList();
    int longestEntryWidth() const;

    QLineEdit *box_;
    PortPlaces places_;
    QStringListModel *ports_;
    QCompleter *completer_;
};

} // namespace quenta
