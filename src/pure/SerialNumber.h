#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenta {

// How the bytes of a serial number are laid into a firmware.
enum class SerialFormat {
    LittleEndian, // "le": least significant byte first
    BigEndian,    // "be": most significant byte first
    Retlw,        // "retlw": each byte, most significant first, as the PIC instruction RETLW k
                  // (the word 0x34kk), each word low byte first: two bytes per byte of the number
};

// The format of a name: "le", "be" or "retlw"; none for any other.
std::optional<SerialFormat> serialFormatNamed(std::string_view name);

// The largest serial number a series hands out: a journal's 64-bit signed column holds 2^63 - 1,
// the number after it.
inline constexpr std::uint64_t kLargestSerialNumber = 9223372036854775806u;

// The largest serial number a series hands out for numbers of `width` bytes (1 to 8): what they
// hold, at most kLargestSerialNumber.
std::uint64_t largestSerialIn(unsigned width);

// The number a series hands out next: its stored next number (none while the series is not made
// yet), or its first number when that is higher. None when that is past `largest`: the series is
// used up for that width.
std::optional<std::uint64_t> nextInSeries(std::optional<std::uint64_t> stored, std::uint64_t first,
                                          std::uint64_t largest);

// The bytes that stand for `number` in `width` bytes of the number (1 to 8): `width` bytes, or
// twice as many for retlw. None when the width is outside 1..8 or the number does not fit in it.
std::optional<std::string> serialBytes(std::uint64_t number, unsigned width, SerialFormat format);

// A firmware's records with bytes written in, or why they could not be.
struct StampedRecords {
    std::vector<std::string> records;
    std::string fault; // empty when stamped
};

// Writes `bytes` into a firmware's Intel HEX records at byte `address` and up. The data records
// that hold any of those addresses get the new bytes and a new checksum; the bytes no record holds
// go into new data records of up to 16 bytes, none across a 64 KiB boundary, each preceded by the
// extended linear address (04) record it needs, all placed before the end-of-file record (or at the
// end when there is none). Addresses follow the 02 and 04 records as a reader follows them; an 02
// segment wraps its offsets within 64 KiB. Refused when an item is no record or the bytes would
// reach past 4 GiB.
StampedRecords stampBytes(std::vector<std::string> records, std::uint32_t address,
                          std::string_view bytes);

} // namespace quenta
