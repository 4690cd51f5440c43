#pragma once

#include <QString>

#include <optional>

namespace quenta {

// The folder of the stable names of USB serial ports.
inline const QString kByIdFolder = QStringLiteral("/dev/serial/by-id");

// What the journal notes of the device behind a port.
struct PortIdentity {
    QString device;    // the device the path leads to, its links resolved
    QString usbId;     // "vvvv:pppp", lower-case hexadecimal, when the device is on USB
    QString usbSerial; // its USB serial number, when it has one
};

// Read from sysfs: the USB device above the serial device, if any.
PortIdentity identifyPort(const QString &path);

// The port of the USB serial device with this serial number: its stable name in kByIdFolder when
// it has one (so that it is found again after the device comes back), else its device path. None
// when no port has that serial number.
std::optional<QString> findUsbPort(const QString &serialNumber);

} // namespace quenta
