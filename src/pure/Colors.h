#pragma once

#include <cstdint>

namespace quenta {

// Colours are stored as &HBBGGRR: red in the low byte, blue in the high byte.
namespace VbColor {
inline constexpr std::uint32_t Red = 0x0000FF;
inline constexpr std::uint32_t Green = 0x00FF00;
inline constexpr std::uint32_t DarkGreen = 0x00C000;
inline constexpr std::uint32_t Navy = 0x800000;
inline constexpr std::uint32_t Blue = 0xFF0000;
inline constexpr std::uint32_t Yellow = 0x00FFFF;
inline constexpr std::uint32_t Grey = 0x808080;
inline constexpr std::uint32_t White = 0xFFFFFF;
inline constexpr std::uint32_t DarkBlue = 0xC00000;
} // namespace VbColor

} // namespace quenta
