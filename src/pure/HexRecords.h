#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenta {

// Why an item is no Intel HEX record, as a clause ("its checksum is 12 where 34 is due"); none when
// it is one: ":" and then pairs of hexadecimal digits (either case) for the data count, the two
// address bytes, the type, the data and the checksum, the count matching the data, and all bytes
// adding up to 0 in their low eight bits.
std::optional<std::string> recordFault(std::string_view item);

// The type byte of a record that recordFault() accepted.
std::uint8_t recordType(std::string_view record);

// Whether a record that recordFault() accepted moves the address of the records after it: an
// extended segment (02) or extended linear (04) address record.
bool isAddressRecord(std::string_view record);

// A firmware file's records, read as the line table takes them (see HexItemReader), each checked.
struct FirmwareText {
    std::vector<std::string> records; // in file order; empty items (blank lines) are skipped
    std::size_t badLine = 0;          // the line of the first item that is no record; 0 if none
    std::string fault;                // why that item is no record
    bool tooMany = false;             // more than the records asked for: reading stopped there
};

FirmwareText readFirmwareText(std::string_view content, std::size_t maxRecords);

} // namespace quenta
