#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenta {

// Why an item is no sound Intel HEX record, as what follows "line N" in a sentence ("has the
// checksum 12 where 34 is due"); none when it is one: ":" and then pairs of hexadecimal digits
// (either case) for the data length, the two address bytes, the type, the data and the checksum,
// the length matching the data, all bytes adding up to 0 in their low eight bits, a type from 00
// to 05, and the shape its type asks for: an end record (01) carries no data; the address records
// 02 and 04 carry 2 bytes, 03 and 05 carry 4, and all four have the address field 0000.
std::optional<std::string> recordFault(std::string_view item);

// The type byte of a record that recordFault() accepted.
std::uint8_t recordType(std::string_view record);

// Whether a record that recordFault() accepted moves the address of the records after it: an
// extended segment (02) or extended linear (04) address record.
bool isAddressRecord(std::string_view record);

// A firmware file's records, read as the line table takes them (see HexItemReader), each checked,
// and the file as a whole: its one end record is its last record.
struct FirmwareText {
    std::vector<std::string> records; // in file order, up to a fault; blank lines are skipped
    std::size_t badLine = 0;          // the line (counting blank lines) the fault names; 0 if none
    std::string fault;    // why the file cannot be used, naming that line; empty if none
    bool tooMany = false; // more than the records asked for: reading stopped there
};

// Reads and checks a firmware file. A file that holds no records has no fault: its records are
// empty.
FirmwareText readFirmwareText(std::string_view content, std::size_t maxRecords);

// Why a file that readFirmwareText() found a fault in is refused, without a full stop:
// "README.md is not an Intel HEX file: line 1 does not start with ':'".
std::string firmwareRefusal(std::string_view fileName, const FirmwareText &text);

} // namespace quenta
