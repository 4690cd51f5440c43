#pragma once

#include "pure/Colors.h"

#include <QColor>

#include <cstdint>

namespace quenta {

// A stored &HBBGGRR colour as the toolkit draws it.
inline QColor fromBgr(std::uint32_t bgr) {
    return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                  static_cast<int>((bgr >> 16) & 0xFF));
}

} // namespace quenta
