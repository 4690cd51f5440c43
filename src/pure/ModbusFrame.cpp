#include "pure/ModbusFrame.h"

#include "pure/Crc16.h"

namespace quenta {
namespace {

constexpr char kMarker = 'B';

bool accepts(const AddressSet &accepted, char c) {
    return accepted.test(static_cast<unsigned char>(c));
}

// The length of the shortest valid frame that starts at `start`, if any: it ends where the
// answer's line end is followed by the CRC-16 over everything before. (Without the line end, two
// bytes of an answer may happen to be the CRC of the bytes before them.)
std::optional<std::size_t> completeFrameAt(std::string_view buffer, std::size_t start) {
    const std::string_view rest = buffer.substr(start);
    std::uint16_t reg = 0xFFFF;
    for (std::size_t body = 1; body + 2 <= rest.size(); ++body) {
        reg = crc16Update(reg, rest[body - 1]);
        if (body + 2 >= kModbusMinFrame && rest.substr(body - 2, 2) == "\r\n" &&
            static_cast<unsigned char>(rest[body]) == (reg & 0xFF) &&
            static_cast<unsigned char>(rest[body + 1]) == (reg >> 8)) {
            return body + 2;
        }
    }
    return std::nullopt;
}

// The lengths of the frames without line ends that make up `rest` exactly, shortest first: each
// an accepted address, the marker, at least two characters of text and the CRC-16 of all before.
// None when `rest` is no such run of frames.
std::optional<std::vector<std::size_t>> looseFrames(std::string_view rest,
                                                    const AddressSet &accepted) {
    if (rest.empty()) {
        return std::vector<std::size_t>{};
    }
    if (rest.size() < kModbusMinFrame || !accepts(accepted, rest[0]) || rest[1] != kMarker) {
        return std::nullopt;
    }
    std::uint16_t reg = 0xFFFF;
    for (std::size_t body = 1; body + 2 <= rest.size(); ++body) {
        reg = crc16Update(reg, rest[body - 1]);
        if (body + 2 >= kModbusMinFrame && static_cast<unsigned char>(rest[body]) == (reg & 0xFF) &&
            static_cast<unsigned char>(rest[body + 1]) == (reg >> 8)) {
            if (auto after = looseFrames(rest.substr(body + 2), accepted)) {
                after->insert(after->begin(), body + 2);
                return after;
            }
        }
    }
    return std::nullopt;
}

// The next place after `from` where a frame could start: an accepted address, then "B" or the
// buffer's end.
std::size_t nextStart(std::string_view buffer, std::size_t from, const AddressSet &accepted) {
    for (std::size_t p = from; p < buffer.size(); ++p) {
        if (accepts(accepted, buffer[p]) && (p + 1 == buffer.size() || buffer[p + 1] == kMarker)) {
            return p;
        }
    }
    return buffer.size();
}

} // namespace

std::string modbusFrame(std::uint8_t address, std::string_view command) {
    std::string frame(1, static_cast<char>(address));
    frame.append(command);
    frame.append(CRC16(frame));
    return frame;
}

std::string frameCommand(std::string_view command, std::optional<std::uint8_t> modbusAddress) {
    return modbusAddress ? modbusFrame(*modbusAddress, command) : std::string(command);
}

std::vector<ModbusEvent> ModbusReceiver::take(std::string_view read, const AddressSet &accepted) {
    std::vector<ModbusEvent> events;
    take(read, accepted, [&events](ModbusEvent event) { events.push_back(std::move(event)); });
    return events;
}

void ModbusReceiver::take(std::string_view read, const AddressSet &accepted,
                          const std::function<void(ModbusEvent)> &onEvent) {
    // A long read is examined piece by piece, so that answers in front of a flood of other
    // characters are not pushed out of the bounded buffer before they were looked at.
    constexpr std::size_t kPiece = kModbusBufferLimit / 2;
    for (std::size_t offset = 0; offset < read.size(); offset += kPiece) {
        buffer_.append(read.substr(offset, kPiece));
        if (accepted.none()) {
            if (buffer_.size() > kModbusBufferLimit) {
                drop(buffer_.size() - kModbusBufferLimit);
            }
            continue;
        }
        while (auto event = scan(accepted)) {
            onEvent(std::move(*event));
        }
    }
}

std::vector<ModbusEvent> ModbusReceiver::flush(const AddressSet &accepted) {
    std::vector<ModbusEvent> events;
    const std::size_t start = nextStart(buffer_, 0, accepted);
    const auto lengths = looseFrames(std::string_view(buffer_).substr(start), accepted);
    if (accepted.none() || start == buffer_.size() || !lengths) {
        return events;
    }
    if (start > 0) {
        events.push_back({ModbusEvent::Kind::AddressError, 0, {}, start_});
    }
    std::size_t at = start;
    for (const std::size_t length : *lengths) {
        events.push_back({ModbusEvent::Kind::Answer, static_cast<std::uint8_t>(buffer_[at]),
                          buffer_.substr(at + 2, length - 4), start_ + at});
        at += length;
    }
    drop(buffer_.size());
    return events;
}

void ModbusReceiver::clear() {
    drop(buffer_.size());
}

void ModbusReceiver::drop(std::size_t count) {
    buffer_.erase(0, count);
    start_ += count;
}

std::optional<ModbusEvent> ModbusReceiver::scan(const AddressSet &accepted) {
    if (buffer_.size() > kModbusBufferLimit) {
        drop(nextStart(buffer_, buffer_.size() - kModbusBufferLimit, accepted));
    }
    if (buffer_.size() < kModbusMinFrame) {
        return std::nullopt;
    }
    const std::uint64_t begin = start_;
    if (!accepts(accepted, buffer_[0])) {
        drop(nextStart(buffer_, 1, accepted));
        return ModbusEvent{ModbusEvent::Kind::AddressError, 0, {}, begin};
    }
    if (buffer_[1] != kMarker) {
        // A whole frame from the address without the marker is an answer that cannot be read; a
        // character that only looks like the address is left behind once a frame follows it.
        if (const auto length = completeFrameAt(buffer_, 0)) {
            drop(*length);
            return ModbusEvent{ModbusEvent::Kind::MarkerError, 0, {}, begin};
        }
        if (!firstCompleteFrame(accepted, 1)) {
            return std::nullopt;
        }
        drop(nextStart(buffer_, 1, accepted));
        return ModbusEvent{ModbusEvent::Kind::AddressError, 0, {}, begin};
    }
    if (const auto at = firstCompleteFrame(accepted, 0)) {
        const auto length = *completeFrameAt(buffer_, *at);
        ModbusEvent event{ModbusEvent::Kind::Answer, static_cast<std::uint8_t>(buffer_[*at]),
                          buffer_.substr(*at + 2, length - 4), start_ + *at};
        drop(*at + length);
        return event;
    }
    return std::nullopt;
}

std::optional<std::size_t> ModbusReceiver::firstCompleteFrame(const AddressSet &accepted,
                                                              std::size_t from) const {
    for (std::size_t p = from == 0 ? 0 : nextStart(buffer_, from, accepted); p < buffer_.size();
         p = nextStart(buffer_, p + 1, accepted)) {
        if (completeFrameAt(buffer_, p)) {
            return p;
        }
    }
    return std::nullopt;
}

} // namespace quenta
