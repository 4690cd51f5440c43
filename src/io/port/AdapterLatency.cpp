#include "io/port/AdapterLatency.h"

#include "io/port/PortAccess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace quenta {

std::optional<int> adapterLatencyMs(const QString &device, const QString &sysRoot) {
    const QString tty = QFileInfo(resolvePortPath(device)).fileName();
    QFile timer(
        QDir(sysRoot).filePath(QStringLiteral("bus/usb-serial/devices/%1/latency_timer").arg(tty)));
    if (tty.isEmpty() || !timer.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    bool number = false;
    const int ms = timer.read(32).trimmed().toInt(&number);
    return number && ms >= 0 ? std::optional<int>(ms) : std::nullopt;
}

} // namespace quenta
