#pragma once

// Files of this source tree, and what a firmware file puts into a simulated board's memory as the
// board's own HEX reader sees it: the measure every end-to-end job is judged by.

#include "simboard/IntelHex.h"

#include <QFile>
#include <QString>

namespace quenta::testing {

inline QString sourcePath(const char *relative) {
    return QStringLiteral(QUENTA_SOURCE_DIR "/") + QString::fromLatin1(relative);
}

inline simboard::Memory imageOf(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qFatal("cannot read %s", qPrintable(path));
    }
    const simboard::HexImage image = simboard::readHexImage(file.readAll().toStdString());
    if (image.badLine != 0 || image.memory.empty()) {
        qFatal("%s is no firmware the board can read", qPrintable(path));
    }
    return image.memory;
}

} // namespace quenta::testing
