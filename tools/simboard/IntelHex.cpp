#include "simboard/IntelHex.h"

namespace simboard {
namespace {

int digitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// The data length a record type must have; none for data records, which may have any.
std::optional<std::size_t> requiredLength(RecordType type) {
    switch (type) {
    case RecordType::EndOfFile:
        return 0;
    case RecordType::ExtendedSegmentAddress:
    case RecordType::ExtendedLinearAddress:
        return 2;
    case RecordType::StartSegmentAddress:
    case RecordType::StartLinearAddress:
        return 4;
    case RecordType::Data:
        break;
    }
    return std::nullopt;
}

// Count, two offset bytes, type and checksum.
constexpr std::size_t kRecordFrame = 5;

constexpr auto kLastType = static_cast<std::uint8_t>(RecordType::StartLinearAddress);

} // namespace

std::optional<Record> parseRecord(std::string_view digits) {
    if (digits.size() % 2 != 0 || digits.size() < 2 * kRecordFrame) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    bytes.reserve(digits.size() / 2);
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        const int high = digitValue(digits[i]);
        const int low = digitValue(digits[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    if (bytes[0] + kRecordFrame != bytes.size()) {
        return std::nullopt;
    }
    unsigned sum = 0;
    for (const std::uint8_t byte : bytes) {
        sum += byte;
    }
    if ((sum & 0xFF) != 0 || bytes[3] > kLastType) {
        return std::nullopt;
    }
    Record record;
    record.type = static_cast<RecordType>(bytes[3]);
    record.offset = static_cast<std::uint16_t>(bytes[1] << 8 | bytes[2]);
    record.data.assign(bytes.begin() + 4, bytes.end() - 1);
    if (const auto length = requiredLength(record.type); length && *length != record.data.size()) {
        return std::nullopt;
    }
    return record;
}

HexPass::Result HexPass::write(Memory &memory, const Record &record) {
    if (record.type != RecordType::Data) {
        return follow(record);
    }
    for (std::size_t i = 0; i < record.data.size(); ++i) {
        memory[addressOf(record.offset, i)] = record.data[i];
    }
    return Result::Taken;
}

HexPass::Result HexPass::compare(const Memory &memory, const Record &record) {
    if (record.type != RecordType::Data) {
        return follow(record);
    }
    for (std::size_t i = 0; i < record.data.size(); ++i) {
        const auto found = memory.find(addressOf(record.offset, i));
        const std::uint8_t stored = found == memory.end() ? kErased : found->second;
        if (stored != record.data[i]) {
            return Result::Mismatch;
        }
    }
    return Result::Taken;
}

std::vector<std::uint32_t> HexPass::placement(const Record &record) const {
    std::vector<std::uint32_t> addresses;
    if (record.type == RecordType::Data) {
        for (std::size_t i = 0; i < record.data.size(); ++i) {
            addresses.push_back(addressOf(record.offset, i));
        }
    }
    return addresses;
}

std::uint32_t HexPass::addressOf(std::uint16_t offset, std::size_t index) const {
    const auto within = static_cast<std::uint32_t>(offset + index);
    return base_ + (segmented_ ? within & 0xFFFF : within);
}

HexPass::Result HexPass::follow(const Record &record) {
    const auto value = [&record] {
        return static_cast<std::uint32_t>(record.data[0] << 8 | record.data[1]);
    };
    switch (record.type) {
    case RecordType::EndOfFile:
        base_ = 0;
        segmented_ = false;
        return Result::EndOfFile;
    case RecordType::ExtendedSegmentAddress:
        base_ = value() << 4;
        segmented_ = true;
        break;
    case RecordType::ExtendedLinearAddress:
        base_ = value() << 16;
        segmented_ = false;
        break;
    case RecordType::Data:
    case RecordType::StartSegmentAddress:
    case RecordType::StartLinearAddress:
        break;
    }
    return Result::Taken;
}

HexImage readHexImage(std::string_view text) {
    HexImage image;
    HexPass pass;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty()) {
            continue;
        }
        const auto record = line[0] == ':' ? parseRecord(line.substr(1)) : std::nullopt;
        if (!record) {
            image.badLine = lineNumber;
            break;
        }
        pass.write(image.memory, *record);
    }
    return image;
}

} // namespace simboard
