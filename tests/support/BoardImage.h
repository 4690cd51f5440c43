#pragma once

// Files of this source tree; a simulated board, started, on a link of its own; and what a firmware
// file puts into a board's memory as the board's own HEX reader sees it: the measure every
// end-to-end job is judged by.

#include "simboard/IntelHex.h"
#include "simboard/PtyBoard.h"

#include <QFile>
#include <QString>
#include <QTemporaryDir>

namespace quenta::testing {

inline QString sourcePath(const QString &relative) {
    return QStringLiteral(QUENTA_SOURCE_DIR "/") + relative;
}

// The sample firmware, and a file of three segments, one across a 64 KiB boundary.
inline const QString kBlinkHex = sourcePath("samples/blink.hex");
inline const QString kSpanHex = sourcePath("tests/flash/span.hex");

// A simulated board, started, its link in a folder of its own.
struct LinkedBoard : QTemporaryDir, simboard::PtyBoard {
    explicit LinkedBoard(simboard::Options options = {})
        : simboard::PtyBoard(std::move(options), filePath("board").toStdString()) {
        start();
    }
    using simboard::PtyBoard::path;
    QString port() const { return QString::fromStdString(path()); }
    QString device() const { return QString::fromStdString(devicePath()); }
};

// The options of one board whose answers cross a wire at `baud`.
inline simboard::Options pacedAt(int baud) {
    return {{simboard::BootloaderOptions{}}, {.baud = baud}, {}};
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
