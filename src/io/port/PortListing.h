#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace quenta {

// A serial port of this machine, with what is known of the device behind it.
struct ListedPort {
    QString path;
    QStringList byId; // the stable names under the by-id folder that lead to it
    std::optional<int> vendorId;
    std::optional<int> productId;
    QString maker;
    QString description;
    QString serialNumber;
};

// The serial ports the system knows, sorted by path, each with its stable names from `byIdFolder`
// (normally /dev/serial/by-id) and, for a USB device, its ids and maker.
std::vector<ListedPort> listSerialPorts(const QString &byIdFolder);

} // namespace quenta
