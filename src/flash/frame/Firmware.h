#pragma once

#include <QString>

#include <cstddef>
#include <string>
#include <vector>

namespace quenta::flash {

// The largest firmware file the flasher reads: far beyond any 20,000-line file.
inline constexpr std::size_t kFlashFileLimit = 64 * 1024 * 1024;

// A firmware file's records, or why the file cannot be used.
struct Firmware {
    std::vector<std::string> records;
    QString problem; // empty when the records can be sent
    QString sha256;  // of the file's bytes, lower-case hexadecimal; empty when it cannot be read
};

// Reads a firmware file whole and checks it (see readFirmwareText): a file that cannot be read, is
// no sound Intel HEX file (a line that is no sound record, no end record as the last record), or
// holds no record at all cannot be used.
Firmware loadFirmware(const QString &path);

// The SHA-256 of a file's bytes in lower-case hexadecimal, or why the file cannot be read.
struct FileDigest {
    QString sha256;
    QString problem;
};
FileDigest digestOf(const QString &path);

} // namespace quenta::flash
