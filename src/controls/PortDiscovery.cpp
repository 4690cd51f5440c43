#include "controls/PortDiscovery.h"

#include <QCompleter>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QSerialPortInfo>
#include <QStringListModel>

namespace quenta {

PortPlaces defaultPortPlaces() {
    QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty()) {
        runtime = QStringLiteral("/tmp");
    }
    return {{QStringLiteral("/dev/serial/by-id")}, runtime + QStringLiteral("/quenta-demo-board")};
}

QStringList discoverPorts(const PortPlaces &places) {
    QStringList ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        ports.append(info.systemLocation());
    }
    ports.sort();
    for (const QString &folder : places.folders) {
        // Broken links are system entries too; they drop out below.
        const QDir dir(folder);
        const QStringList names =
            dir.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString &name : names) {
            ports.append(dir.absoluteFilePath(name));
        }
    }
    if (!places.demoBoard.isEmpty()) {
        ports.append(places.demoBoard);
    }
    QStringList present;
    for (const QString &port : ports) {
        if (!present.contains(port) && QFileInfo::exists(port)) {
            present.append(port);
        }
    }
    return present;
}

PortDiscovery::PortDiscovery(QLineEdit *box, PortPlaces places)
    : QObject(box), places_(std::move(places)), ports_(new QStringListModel(this)),
      completer_(new QCompleter(ports_, this)) {
    completer_->setCaseSensitivity(Qt::CaseInsensitive);
    completer_->setFilterMode(Qt::MatchContains);
    box->setCompleter(completer_);
    box->installEventFilter(this);
}

bool PortDiscovery::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::FocusIn) {
        refresh();
    }
    return QObject::eventFilter(watched, event);
}

void PortDiscovery::refresh() {
    ports_->setStringList(discoverPorts(places_));
}

} // namespace quenta
