#pragma once

#include <QString>

#include <optional>

namespace quenta {

// The line settings of a settings string such as "115200,n,8,1".
struct LineSettings {
    int baud = 115200;
    char parity = 'n'; // n, e, o, m or s
    int dataBits = 8;
    int stopBits = 1;
};

std::optional<LineSettings> parseLineSettings(const QString &settings);

} // namespace quenta
