#include "flash/PortIdentity.h"

#include "io/PortAccess.h"
#include "io/PortListing.h"

namespace quenta::flash {

PortIdentity identifyPort(const QString &path) {
    PortIdentity identity{resolvePortPath(path), {}, {}};
    for (const ListedPort &port : listSerialPorts(kByIdFolder)) {
        if (resolvePortPath(port.path) != identity.device) {
            continue;
        }
        if (port.vendorId && port.productId) {
            identity.usbId = QStringLiteral("%1:%2")
                                 .arg(*port.vendorId, 4, 16, QLatin1Char('0'))
                                 .arg(*port.productId, 4, 16, QLatin1Char('0'));
            identity.usbSerial = port.serialNumber;
        }
        break;
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

} // namespace quenta::flash
