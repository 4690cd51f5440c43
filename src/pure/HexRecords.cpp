#include "pure/HexRecords.h"

#include "pure/HexDigits.h"
#include "pure/HexReading.h"

namespace quenta {
namespace {

// Count, two address bytes, type and checksum.
constexpr std::size_t kRecordFrame = 5;

std::string shown(char c) {
    const auto code = static_cast<unsigned char>(c);
    if (code >= 0x20 && code < 0x7F) {
        return std::string("\"") + c + "\"";
    }
    return "the byte " + hexByte(code) + " (hexadecimal)";
}

unsigned byteAt(std::string_view digits, std::size_t index) {
    return static_cast<unsigned>(hexDigitValue(digits[2 * index]) << 4 |
                                 hexDigitValue(digits[2 * index + 1]));
}

} // namespace

std::optional<std::string> recordFault(std::string_view item) {
    if (item.empty() || item.front() != ':') {
        return std::string("it does not begin with \":\"");
    }
    const std::string_view digits = item.substr(1);
    for (const char c : digits) {
        if (hexDigitValue(c) < 0) {
            return shown(c) + " is no hexadecimal digit";
        }
    }
    if (digits.size() % 2 != 0) {
        return std::string("it has an odd number of hexadecimal digits");
    }
    const std::size_t bytes = digits.size() / 2;
    if (bytes < kRecordFrame) {
        return "it is too short for a record: " + std::to_string(bytes) + " bytes";
    }
    const unsigned count = byteAt(digits, 0);
    if (count != bytes - kRecordFrame) {
        return "its count says " + std::to_string(count) + " data bytes, but it holds " +
               std::to_string(bytes - kRecordFrame);
    }
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < bytes; ++i) {
        sum += byteAt(digits, i);
    }
    const unsigned due = (0x100 - (sum & 0xFF)) & 0xFF;
    const unsigned checksum = byteAt(digits, bytes - 1);
    if (checksum != due) {
        return "its checksum is " + hexByte(checksum) + " where " + hexByte(due) + " is due";
    }
    return std::nullopt;
}

std::uint8_t recordType(std::string_view record) {
    return static_cast<std::uint8_t>(byteAt(record.substr(1), 3));
}

bool isAddressRecord(std::string_view record) {
    const std::uint8_t type = recordType(record);
    return type == 0x02 || type == 0x04;
}

FirmwareText readFirmwareText(std::string_view content, std::size_t maxRecords) {
    FirmwareText text;
    for (HexItemReader reader(content); !reader.atEnd();) {
        std::string item = reader.next();
        if (item.empty()) {
            continue;
        }
        if (auto fault = recordFault(item)) {
            text.badLine = reader.line();
            text.fault = std::move(*fault);
            break;
        }
        if (text.records.size() == maxRecords) {
            text.tooMany = true;
            break;
        }
        text.records.push_back(std::move(item));
    }
    return text;
}

} // namespace quenta
