#include "io/port/PortListing.h"

#include "io/port/PortAccess.h"

#include <QDir>
#include <QSerialPortInfo>

#include <algorithm>

namespace quenta {

std::vector<ListedPort> listSerialPorts(const QString &byIdFolder) {
    const QDir folder(byIdFolder);
    const QStringList names =
        folder.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    std::vector<ListedPort> ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        ListedPort port;
        port.path = info.systemLocation();
        const QString device = resolvePortPath(port.path);
        for (const QString &name : names) {
            if (resolvePortPath(folder.absoluteFilePath(name)) == device) {
                port.byId.append(folder.absoluteFilePath(name));
            }
        }
        if (info.hasVendorIdentifier()) {
            port.vendorId = info.vendorIdentifier();
        }
        if (info.hasProductIdentifier()) {
            port.productId = info.productIdentifier();
        }
        port.maker = info.manufacturer();
        port.description = info.description();
        port.serialNumber = info.serialNumber();
        ports.push_back(std::move(port));
    }
    std::sort(ports.begin(), ports.end(),
              [](const ListedPort &a, const ListedPort &b) { return a.path < b.path; });
    return ports;
}

} // namespace quenta
