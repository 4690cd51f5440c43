#include "io/port/PortDiscovery.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

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

} // namespace quenta
