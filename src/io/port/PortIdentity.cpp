#include "io/port/PortIdentity.h"

#include "io/port/PortAccess.h"
#include "io/port/PortListing.h"

#include <QFile>
#include <QFileInfo>

namespace quenta {
namespace {

// The folder in sysfs of the USB device a serial device belongs to; empty when it is on no USB.
QString usbDeviceFolder(const QString &device) {
    QString folder =
        QFileInfo(QStringLiteral("/sys/class/tty/%1/device").arg(QFileInfo(device).fileName()))
            .canonicalFilePath();
    while (folder.startsWith(QLatin1String("/sys/devices/"))) {
        if (QFileInfo::exists(folder + QStringLiteral("/idVendor"))) {
            return folder;
        }
        folder = QFileInfo(folder).path();
    }
    return {};
}

QString firstLine(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readLine()).trimmed()
                                          : QString();
}

} // namespace

PortIdentity identifyPort(const QString &path) {
    PortIdentity identity{resolvePortPath(path), {}, {}};
    const QString usb = usbDeviceFolder(identity.device);
    if (!usb.isEmpty()) {
        identity.usbId = firstLine(usb + QStringLiteral("/idVendor")) + QLatin1Char(':') +
                         firstLine(usb + QStringLiteral("/idProduct"));
        identity.usbSerial = firstLine(usb + QStringLiteral("/serial"));
    }
    return identity;
}

std::optional<QString> findUsbPort(const QString &serialNumber) {
    for (const ListedPort &port : listSerialPorts(kByIdFolder)) {
        if (port.vendorId && port.serialNumber == serialNumber) {
            return port.byId.isEmpty() ? port.path : port.byId.first();
        }
    }
    return std::nullopt;
}

} // namespace quenta
