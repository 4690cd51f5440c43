#include "pure/HexRecords.h"

#include "pure/HexDigits.h"
#include "pure/HexReading.h"

#include <array>

namespace quenta {
namespace {

// Length, two address bytes, type and checksum.
constexpr std::size_t kRecordFrame = 5;
constexpr unsigned kEndRecord = 0x01;
constexpr unsigned kLastType = 0x05;

// The records 02 to 05, by type: what they are called and how many data bytes they carry.
struct AddressKind {
    const char *name;
    unsigned length;
};
constexpr std::array<AddressKind, 4> kAddressKinds{{
    {"an extended segment address record", 2},
    {"a start segment address record", 4},
    {"an extended linear address record", 2},
    {"a start linear address record", 4},
}};

std::string shown(char c) {
    const auto code = static_cast<unsigned char>(c);
    if (code >= 0x20 && code < 0x7F) {
        return std::string("'") + c + "'";
    }
    return "the byte 0x" + hexByte(code);
}

std::string dataBytes(unsigned count) {
    return std::to_string(count) + (count == 1 ? " data byte" : " data bytes");
}

std::string lineText(std::size_t line) {
    return "line " + std::to_string(line);
}

unsigned byteAt(std::string_view digits, std::size_t index) {
    return static_cast<unsigned>(hexDigitValue(digits[2 * index]) << 4 |
                                 hexDigitValue(digits[2 * index + 1]));
}

// Whether the item is written as a record: digits, length and checksum.
std::optional<std::string> syntaxFault(std::string_view item) {
    if (item.empty() || item.front() != ':') {
        return std::string("does not start with ':'");
    }
    const std::string_view digits = item.substr(1);
    for (const char c : digits) {
        if (hexDigitValue(c) < 0) {
            return "holds " + shown(c) + ", which is not a hexadecimal digit";
        }
    }
    if (digits.size() % 2 != 0) {
        return std::string("has an odd number of hexadecimal digits");
    }
    const std::size_t bytes = digits.size() / 2;
    if (bytes < kRecordFrame) {
        return "is too short for a record: it holds " + std::to_string(bytes) +
               " bytes, a record has at least " + std::to_string(kRecordFrame);
    }
    const unsigned count = byteAt(digits, 0);
    if (count != bytes - kRecordFrame) {
        return "gives a length of " + dataBytes(count) + " but carries " +
               std::to_string(bytes - kRecordFrame);
    }
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < bytes; ++i) {
        sum += byteAt(digits, i);
    }
    const unsigned due = (0x100 - (sum & 0xFF)) & 0xFF;
    const unsigned checksum = byteAt(digits, bytes - 1);
    if (checksum != due) {
        return "has the checksum " + hexByte(checksum) + " where " + hexByte(due) + " is due";
    }
    return std::nullopt;
}

// Whether a well-written record has the shape its type asks for.
std::optional<std::string> shapeFault(std::string_view digits) {
    const unsigned count = byteAt(digits, 0);
    const unsigned type = byteAt(digits, 3);
    if (type > kLastType) {
        return "has the record type " + hexByte(type) + ", but only types 00 to " +
               hexByte(kLastType) + " exist";
    }
    if (type == kEndRecord && count != 0) {
        return "is an end record (type 01) with " + dataBytes(count) +
               ", but an end record carries none";
    }
    if (type <= kEndRecord) {
        return std::nullopt;
    }
    const AddressKind &kind = kAddressKinds[type - 2];
    const std::string named = std::string("is ") + kind.name + " (type " + hexByte(type) + ")";
    if (count != kind.length) {
        return named + " with " + dataBytes(count) + ", but it must carry " +
               std::to_string(kind.length);
    }
    const std::string address = hexByte(byteAt(digits, 1)) + hexByte(byteAt(digits, 2));
    if (address != "0000") {
        return named + " with the address field " + address + ", but it must be 0000";
    }
    return std::nullopt;
}

void refuse(FirmwareText &text, std::size_t line, std::string fault) {
    text.badLine = line;
    text.fault = std::move(fault);
}

} // namespace

std::optional<std::string> recordFault(std::string_view item) {
    if (auto fault = syntaxFault(item)) {
        return fault;
    }
    return shapeFault(item.substr(1));
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
    std::size_t endLine = 0;
    HexItemReader reader(content);
    while (!reader.atEnd()) {
        std::string item = reader.next();
        if (item.empty()) {
            continue;
        }
        if (auto fault = recordFault(item)) {
            refuse(text, reader.line(), lineText(reader.line()) + " " + *fault);
            return text;
        }
        if (endLine != 0) {
            refuse(text, reader.line(),
                   lineText(reader.line()) + " comes after the end record on " + lineText(endLine) +
                       "; the end record must be the last record");
            return text;
        }
        if (text.records.size() == maxRecords) {
            text.tooMany = true;
            return text;
        }
        if (recordType(item) == kEndRecord) {
            endLine = reader.line();
        }
        text.records.push_back(std::move(item));
    }
    if (!text.records.empty() && endLine == 0) {
        refuse(text, reader.line(),
               "the file ends at " + lineText(reader.line()) +
                   " without an end record (:00000001FF)");
    }
    return text;
}

std::string firmwareRefusal(std::string_view fileName, const FirmwareText &text) {
    return std::string(fileName) + " is not an Intel HEX file: " + text.fault;
}

} // namespace quenta
