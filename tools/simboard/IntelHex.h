#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

namespace simboard {

// The board's program memory: address -> byte. A byte never written reads as kErased.
using Memory = std::map<std::uint32_t, std::uint8_t>;

inline constexpr std::uint8_t kErased = 0xFF;

enum class RecordType : std::uint8_t {
    Data = 0x00,
    EndOfFile = 0x01,
    ExtendedSegmentAddress = 0x02,
    StartSegmentAddress = 0x03,
    ExtendedLinearAddress = 0x04,
    StartLinearAddress = 0x05,
};

// One Intel HEX record.
struct Record {
    RecordType type = RecordType::Data;
    std::uint16_t offset = 0;
    std::vector<std::uint8_t> data;
};

// Reads a record from what follows its start character: pairs of hexadecimal digits (either case)
// for count, offset, type, data and checksum. None when a digit is missing or is not hexadecimal,
// the count does not match the data, the checksum does not add up, the type is unknown, or the data
// has the wrong length for the type.
std::optional<Record> parseRecord(std::string_view digits);

// One pass through a HEX file's records, as the board takes them in: each data record is written
// into (or compared with) memory where the extended address records before it put it. The end of
// file record closes the pass and brings the placement back to the plain 16-bit addresses.
class HexPass {
public:
    enum class Result {
        Taken,     // the record was written, matched, or only moved the placement
        EndOfFile, // the end of file record: the pass is over
        Mismatch,  // a data record whose bytes differ from memory (compare only)
    };

    Result write(Memory &memory, const Record &record);
    Result compare(const Memory &memory, const Record &record);

    // Where the bytes of a data record go, in order; none for other records.
    std::vector<std::uint32_t> placement(const Record &record) const;

private:
    // The memory address of byte `index` of a data record at `offset`.
    std::uint32_t addressOf(std::uint16_t offset, std::size_t index) const;
    // Takes a record that is no data record.
    Result follow(const Record &record);

    std::uint32_t base_ = 0;
    bool segmented_ = false; // type 02: offsets wrap within their 64 KiB segment
};

// What reading a HEX file brought.
struct HexImage {
    Memory memory;
    std::size_t badLine = 0; // the number (from 1) of the first line that is no record; 0 if none
};

// Reads a HEX file the way the board takes in its download lines: one record a line (CR LF or
// LF), each beginning with ':'; blank lines are skipped. Reading stops at the first bad line.
HexImage readHexImage(std::string_view text);

} // namespace simboard
