#pragma once

// Firmware files of any length for the benchmarks: 16-byte data records, an extended linear
// address record in front of every 64 KiB, and the end-of-file record.

#include <QByteArray>

namespace sample {

// One Intel HEX record line.
inline QByteArray record(int type, int address, const QByteArray &data) {
    QByteArray bytes;
    bytes += static_cast<char>(data.size());
    bytes += static_cast<char>((address >> 8) & 0xFF);
    bytes += static_cast<char>(address & 0xFF);
    bytes += static_cast<char>(type);
    bytes += data;
    int sum = 0;
    for (const char b : bytes) {
        sum += static_cast<unsigned char>(b);
    }
    bytes += static_cast<char>((-sum) & 0xFF);
    return ':' + bytes.toHex().toUpper() + '\n';
}

// The number of lines of firmware(records).
inline int linesOf(int records) {
    return records + (records + 4095) / 4096 + 1;
}

// Intel HEX with `records` data records and the address records they need.
inline QByteArray firmware(int records) {
    QByteArray hex;
    for (int r = 0; r < records; ++r) {
        const int linear = r * 16;
        if ((linear & 0xFFFF) == 0) {
            const int upper = linear >> 16;
            hex += record(4, 0,
                          QByteArray{1, static_cast<char>(upper >> 8)} +
                              QByteArray{1, static_cast<char>(upper & 0xFF)});
        }
        QByteArray data;
        for (int i = 0; i < 16; ++i) {
            data += static_cast<char>((r * 7 + i) & 0xFF);
        }
        hex += record(0, linear & 0xFFFF, data);
    }
    return hex + record(1, 0, {});
}

// The most data records that make at most `lines` lines.
inline int recordsFor(int lines) {
    int records = lines - 2;
    while (linesOf(records) > lines) {
        --records;
    }
    return records;
}

} // namespace sample
