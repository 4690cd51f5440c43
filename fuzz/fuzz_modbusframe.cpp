// takeModbusAnswer over arbitrary byte streams. Input: the device address, then chunks (a length
// byte, then that many bytes) fed one by one into the receive buffer, which is examined after each
// chunk until it reports Incomplete. The buffer only ever loses characters from its front; every
// call that hands something on shortens it, so the examining ends; an answer is the text of a
// frame with a valid CRC that stood in the buffer; once Incomplete, the buffer is within
// kModbusBufferLimit and holds no complete frame. Each chunk is also sent as an answer text
// through modbusFrame and must come back from an empty buffer.
#include "Fuzzing.h"
#include "link/ModbusFrame.h"
#include "protocol/Crc16.h"

using namespace quenta;
using quenta::fuzzing::require;

namespace {

// The frame that carries an answer text: address, "B", the text, its CRC low byte first.
std::string answerFrame(char address, std::string_view text) {
    std::string frame{address, 'B'};
    frame.append(text);
    return frame + CRC16(frame);
}

// Whether a frame of at least kModbusMinFrame characters with a valid CRC starts anywhere in the
// buffer at the address followed by "B".
bool holdsCompleteFrame(std::string_view buffer, char address) {
    for (std::size_t start = 0; start + 1 < buffer.size(); ++start) {
        if (buffer[start] != address || buffer[start + 1] != 'B') {
            continue;
        }
        std::uint16_t reg = 0xFFFF;
        for (std::size_t end = start; end + 2 < buffer.size(); ++end) {
            reg = crc16Update(reg, buffer[end]);
            const std::size_t length = end + 3 - start;
            if (length >= kModbusMinFrame &&
                static_cast<unsigned char>(buffer[end + 1]) == (reg & 0xFF) &&
                static_cast<unsigned char>(buffer[end + 2]) == (reg >> 8)) {
                return true;
            }
        }
    }
    return false;
}

// Examines the buffer until it reports Incomplete, checking every call.
void takeAll(std::string &buffer, std::uint8_t address) {
    const char addr = static_cast<char>(address);
    const std::size_t callLimit = buffer.size() + 1;
    for (std::size_t calls = 1;; ++calls) {
        require(calls <= callLimit, "the buffer is examined without end");
        const std::string before = buffer;
        const ModbusScan scan = takeModbusAnswer(buffer, address);
        require(before.ends_with(buffer), "the buffer lost characters other than at its front");
        if (scan.kind == ModbusScan::Kind::Incomplete) {
            require(scan.answer.empty(), "Incomplete carries an answer");
            require(buffer.size() <= kModbusBufferLimit, "the buffer outgrows kModbusBufferLimit");
            require(!holdsCompleteFrame(buffer, addr), "a complete frame is left in the buffer");
            return;
        }
        require(buffer.size() < before.size(), "a call handed something on but kept the buffer");
        if (scan.kind == ModbusScan::Kind::Answer) {
            require(scan.answer.size() + 4 >= kModbusMinFrame, "an answer shorter than a frame");
            require(before.find(answerFrame(addr, scan.answer)) != std::string::npos,
                    "an answer is not the text of a valid frame in the buffer");
        } else {
            require(scan.answer.empty(), "an error carries an answer");
        }
    }
}

// A frame made by modbusFrame comes back from an empty buffer: as a whole, or as the shortest
// valid frame at its front, the rest left waiting.
void checkRoundTrip(std::uint8_t address, std::string_view text) {
    const std::string frame = modbusFrame(address, "B" + std::string(text));
    if (frame.size() < kModbusMinFrame || frame.size() > kModbusBufferLimit) {
        return;
    }
    std::string buffer = frame;
    const ModbusScan scan = takeModbusAnswer(buffer, address);
    require(scan.kind == ModbusScan::Kind::Answer, "a frame from modbusFrame is not taken");
    const std::string taken = answerFrame(static_cast<char>(address), scan.answer);
    require(frame.starts_with(taken) && buffer == frame.substr(taken.size()),
            "a frame from modbusFrame comes back altered");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzzing::InputBytes input(data, size);
    const std::uint8_t address = input.byte();
    std::string buffer;
    while (!input.atEnd()) {
        const std::string chunk = input.chunk();
        checkRoundTrip(address, chunk);
        buffer += chunk;
        takeAll(buffer, address);
    }
    return 0;
}
