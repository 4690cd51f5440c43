#pragma once

#include <QString>

#include <optional>
#include <sys/types.h>

namespace quenta {

// The device a port path leads to, with its symbolic links resolved: a /dev/serial/by-id name and
// the /dev/ttyUSB0 it points to are one device, opened and locked under one name. A path that leads
// nowhere stands as it is.
QString resolvePortPath(const QString &path);

// A process that holds a device open or locked.
struct PortHolder {
    pid_t pid = 0;
    QString command; // its command name, when it can be read
};

// Who holds a device: the owner of its lock file, or else a process that has it open.
std::optional<PortHolder> findPortHolder(const QString &device);

// Why a device cannot be opened, for people: what is wrong and what to do.
struct PortProblem {
    enum class Kind { None, Missing, Permission, Busy, Other };
    Kind kind = Kind::None;
    QString reason;
};

// Looks into why opening a device failed; `systemText` is what the open reported. The device's
// absence, a missing permission (naming the device's group and how to join it) and another holder
// (naming it where it can be found) are told apart.
// A device that is no terminal is said to be no serial port. `givenAs`, the name the device was
// given by, is named beside it where the two differ.
PortProblem explainOpenFailure(const QString &device, const QString &systemText, bool lockFailed,
                               const QString &givenAs = {});

} // namespace quenta
