#pragma once

#include <QString>
#include <QStringList>

namespace quenta {

// Where serial ports are looked for besides the ones the system enumerates.
struct PortPlaces {
    // Folders whose entries are stable names of devices, such as /dev/serial/by-id.
    QStringList folders;
    // The demo board's port, offered when it exists.
    QString demoBoard;
};

// /dev/serial/by-id, and the demo board's link in $XDG_RUNTIME_DIR (or /tmp without it).
PortPlaces defaultPortPlaces();

// The ports there are now: the system's serial devices, then the entries of the folders (each
// folder sorted by name), then the demo board. Only paths that lead to something that exists are
// listed, each once.
QStringList discoverPorts(const PortPlaces &places);

} // namespace quenta
