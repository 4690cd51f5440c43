#include "io/port/LineSettings.h"

#include <QStringList>

namespace quenta {

std::optional<LineSettings> parseLineSettings(const QString &settings) {
    const QStringList parts = settings.split(QLatin1Char(','));
    if (parts.size() != 4) {
        return std::nullopt;
    }
    LineSettings line;
    bool ok = false;
    line.baud = parts[0].trimmed().toInt(&ok);
    if (!ok || line.baud <= 0) {
        return std::nullopt;
    }
    const QString parity = parts[1].trimmed().toLower();
    if (parity.size() != 1 || !QStringLiteral("neoms").contains(parity)) {
        return std::nullopt;
    }
    line.parity = parity[0].toLatin1();
    line.dataBits = parts[2].trimmed().toInt(&ok);
    if (!ok || line.dataBits < 5 || line.dataBits > 8) {
        return std::nullopt;
    }
    line.stopBits = parts[3].trimmed().toInt(&ok);
    if (!ok || (line.stopBits != 1 && line.stopBits != 2)) {
        return std::nullopt;
    }
    return line;
}

} // namespace quenta
