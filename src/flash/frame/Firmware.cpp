#include "flash/frame/Firmware.h"

#include "io/FirmwareFile.h"
#include "io/port/ControlError.h"
#include "pure/HexRecords.h"

#include <QCryptographicHash>

#include <limits>

namespace quenta::flash {

namespace {

QString sha256Of(const std::string &content) {
    return QString::fromLatin1(
        QCryptographicHash::hash(
            QByteArrayView(content.data(), static_cast<qsizetype>(content.size())),
            QCryptographicHash::Sha256)
            .toHex());
}

} // namespace

Firmware loadFirmware(const QString &path) {
    std::string content;
    try {
        content = readFirmwareFile(path, kFlashFileLimit);
    } catch (const ControlError &error) {
        return {{}, QStringLiteral("cannot read %1: %2").arg(path, error.description()), {}};
    }
    const QString sha256 = sha256Of(content);
    FirmwareText text = readFirmwareText(content, std::numeric_limits<std::size_t>::max());
    if (!text.fault.empty()) {
        return {{}, QString::fromStdString(firmwareRefusal(path.toStdString(), text)), sha256};
    }
    if (text.records.empty()) {
        return {{}, QStringLiteral("%1 holds no records").arg(path), sha256};
    }
    return {std::move(text.records), {}, sha256};
}

FileDigest digestOf(const QString &path) {
    try {
        return {sha256Of(readFirmwareFile(path, kFlashFileLimit)), {}};
    } catch (const ControlError &error) {
        return {{}, QStringLiteral("cannot read %1: %2").arg(path, error.description())};
    }
}

} // namespace quenta::flash
