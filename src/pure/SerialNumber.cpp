#include "pure/SerialNumber.h"

#include "pure/HexDigits.h"
#include "pure/HexRecords.h"

#include <cstddef>

namespace quenta {
namespace {

constexpr std::uint8_t kData = 0x00;
constexpr std::uint8_t kEndOfFile = 0x01;
constexpr std::uint8_t kSegmentAddress = 0x02;
constexpr std::uint8_t kLinearAddress = 0x04;
constexpr std::uint8_t kRetlw = 0x34;
constexpr std::size_t kNewRecordBytes = 16;
constexpr std::uint64_t kAddressSpace = std::uint64_t{1} << 32;

struct Record {
    std::uint16_t offset = 0;
    std::uint8_t type = 0;
    std::string data;
};

std::uint8_t byteAt(std::string_view digits, std::size_t index) {
    return static_cast<std::uint8_t>(hexDigitValue(digits[2 * index]) << 4 |
                                     hexDigitValue(digits[2 * index + 1]));
}

// A record that recordFault() accepted, taken apart.
Record decode(std::string_view text) {
    const std::string_view digits = text.substr(1);
    Record record;
    record.offset = static_cast<std::uint16_t>(byteAt(digits, 1) << 8 | byteAt(digits, 2));
    record.type = byteAt(digits, 3);
    for (std::size_t i = 0; i < byteAt(digits, 0); ++i) {
        record.data.push_back(static_cast<char>(byteAt(digits, 4 + i)));
    }
    return record;
}

std::string encode(const Record &record) {
    const auto count = static_cast<unsigned>(record.data.size());
    unsigned sum = count + (record.offset >> 8) + (record.offset & 0xFF) + record.type;
    std::string text = ":" + hexByte(count) + hexByte(record.offset >> 8) + hexByte(record.offset) +
                       hexByte(record.type);
    for (const char c : record.data) {
        const auto value = static_cast<unsigned char>(c);
        sum += value;
        text += hexByte(value);
    }
    return text + hexByte(0x100 - (sum & 0xFF));
}

// The address a reader gives each data byte, following the extended address records.
class AddressTrail {
public:
    std::uint64_t addressOf(std::uint16_t offset, std::size_t index) const {
        const std::uint64_t within = offset + index;
        return base_ + (segmented_ ? within & 0xFFFF : within);
    }

    // What the offsets of the next data records add to.
    std::uint64_t base() const { return base_; }

    void follow(const Record &record) {
        const std::uint64_t value = static_cast<unsigned char>(record.data[0]) << 8 |
                                    static_cast<unsigned char>(record.data[1]);
        if (record.type == kSegmentAddress) {
            base_ = value << 4;
            segmented_ = true;
        } else if (record.type == kLinearAddress) {
            base_ = value << 16;
            segmented_ = false;
        }
    }

private:
    std::uint64_t base_ = 0;
    bool segmented_ = false;
};

std::string faultOf(const std::vector<std::string> &records) {
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (auto fault = recordFault(records[i])) {
            return "record " + std::to_string(i + 1) + " " + *fault;
        }
    }
    return {};
}

// Records for the bytes at address + index for every index not yet written, with the 04 records
// they need after a trail whose base is `base`.
std::vector<std::string> newRecords(std::uint32_t address, std::string_view bytes,
                                    const std::vector<bool> &written, std::uint64_t base) {
    std::vector<std::string> records;
    std::size_t index = 0;
    while (index < bytes.size()) {
        if (written[index]) {
            ++index;
            continue;
        }
        const std::uint64_t first = std::uint64_t{address} + index;
        const std::uint64_t page = first >> 16;
        if (page << 16 != base) {
            base = page << 16;
            records.push_back(encode(
                {0, kLinearAddress, {static_cast<char>(page >> 8), static_cast<char>(page)}}));
        }
        Record record{static_cast<std::uint16_t>(first & 0xFFFF), kData, {}};
        while (index < bytes.size() && !written[index] && record.data.size() < kNewRecordBytes &&
               ((std::uint64_t{address} + index) >> 16) == page) {
            record.data.push_back(bytes[index++]);
        }
        records.push_back(encode(record));
    }
    return records;
}

} // namespace

std::optional<SerialFormat> serialFormatNamed(std::string_view name) {
    if (name == "le") {
        return SerialFormat::LittleEndian;
    }
    if (name == "be") {
        return SerialFormat::BigEndian;
    }
    if (name == "retlw") {
        return SerialFormat::Retlw;
    }
    return std::nullopt;
}

std::uint64_t largestSerialIn(unsigned width) {
    const std::uint64_t held =
        width >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * width)) - 1;
    return std::min(held, kLargestSerialNumber);
}

std::optional<std::uint64_t> nextInSeries(std::optional<std::uint64_t> stored, std::uint64_t first,
                                          std::uint64_t largest) {
    const std::uint64_t number = std::max(stored.value_or(first), first);
    return number <= std::min(largest, kLargestSerialNumber) ? std::optional(number) : std::nullopt;
}

std::optional<std::string> serialBytes(std::uint64_t number, unsigned width, SerialFormat format) {
    if (width < 1 || width > 8 || (width < 8 && number >> (8 * width) != 0)) {
        return std::nullopt;
    }
    std::string mostFirst;
    for (unsigned i = width; i-- > 0;) {
        mostFirst.push_back(static_cast<char>(number >> (8 * i)));
    }
    switch (format) {
    case SerialFormat::BigEndian:
        return mostFirst;
    case SerialFormat::LittleEndian:
        return std::string(mostFirst.rbegin(), mostFirst.rend());
    case SerialFormat::Retlw:
        break;
    }
    std::string words;
    for (const char byte : mostFirst) {
        words.push_back(byte);
        words.push_back(static_cast<char>(kRetlw));
    }
    return words;
}

StampedRecords stampBytes(std::vector<std::string> records, std::uint32_t address,
                          std::string_view bytes) {
    if (std::string fault = faultOf(records); !fault.empty()) {
        return {{}, std::move(fault)};
    }
    if (address + std::uint64_t{bytes.size()} > kAddressSpace) {
        return {{},
                std::to_string(bytes.size()) + " bytes at address " + std::to_string(address) +
                    " reach past the 4 GiB an Intel HEX file can address"};
    }
    std::vector<bool> written(bytes.size(), false);
    AddressTrail trail;
    std::size_t endAt = records.size();
    std::uint64_t baseAtEnd = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        Record record = decode(records[i]);
        if (record.type == kEndOfFile && endAt == records.size()) {
            endAt = i;
            baseAtEnd = trail.base();
        }
        if (record.type != kData) {
            trail.follow(record);
            continue;
        }
        bool changed = false;
        for (std::size_t j = 0; j < record.data.size(); ++j) {
            const std::uint64_t at = trail.addressOf(record.offset, j);
            if (at >= address && at - address < bytes.size()) {
                record.data[j] = bytes[at - address];
                written[at - address] = true;
                changed = true;
            }
        }
        if (changed) {
            records[i] = encode(record);
        }
    }
    if (endAt == records.size()) {
        baseAtEnd = trail.base();
    }
    const std::vector<std::string> added = newRecords(address, bytes, written, baseAtEnd);
    records.insert(records.begin() + static_cast<std::ptrdiff_t>(endAt), added.begin(),
                   added.end());
    return {std::move(records), {}};
}

} // namespace quenta
