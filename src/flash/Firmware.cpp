#include "flash/Firmware.h"

#include "io/ControlError.h"
#include "io/FirmwareFile.h"
#include "pure/HexRecords.h"

#include <limits>

namespace quenta::flash {

Firmware loadFirmware(const QString &path) {
    std::string content;
    try {
        content = readFirmwareFile(path, kFlashFileLimit);
    } catch (const ControlError &error) {
        return {{}, QStringLiteral("cannot read %1: %2").arg(path, error.description())};
    }
    FirmwareText text = readFirmwareText(content, std::numeric_limits<std::size_t>::max());
    if (!text.fault.empty()) {
        return {{}, QString::fromStdString(firmwareRefusal(path.toStdString(), text))};
    }
    if (text.records.empty()) {
        return {{}, QStringLiteral("%1 holds no records").arg(path)};
    }
    return {std::move(text.records), {}};
}

} // namespace quenta::flash
