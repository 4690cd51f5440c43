// ModbusReceiver over arbitrary byte streams. Input: two accepted addresses, then chunks (a
// length byte, then that many bytes) taken one by one. The buffer stays within
// kModbusBufferLimit and only ever loses characters from its front; every answer is the text of a
// frame with a valid CRC, from an accepted address, that stood in what arrived; after each chunk
// no complete frame from an accepted address is left in the buffer.
#include "Fuzzing.h"
#include "pure/Crc16.h"
#include "pure/ModbusFrame.h"

using namespace quenta;
using quenta::fuzzing::require;

namespace {

// Whether a frame of at least kModbusMinFrame characters, its text ending in CR LF and closed by
// a valid CRC, starts anywhere in the buffer at an accepted address followed by "B".
bool holdsCompleteFrame(std::string_view buffer, const AddressSet &accepted) {
    for (std::size_t start = 0; start + 1 < buffer.size(); ++start) {
        if (!accepted.test(static_cast<unsigned char>(buffer[start])) || buffer[start + 1] != 'B') {
            continue;
        }
        std::uint16_t reg = 0xFFFF;
        for (std::size_t end = start; end + 2 < buffer.size(); ++end) {
            reg = crc16Update(reg, buffer[end]);
            if (end + 3 - start >= kModbusMinFrame && buffer.substr(end - 1, 2) == "\r\n" &&
                static_cast<unsigned char>(buffer[end + 1]) == (reg & 0xFF) &&
                static_cast<unsigned char>(buffer[end + 2]) == (reg >> 8)) {
                return true;
            }
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzzing::InputBytes input(data, size);
    AddressSet accepted;
    accepted.set(input.byte()).set(input.byte());
    ModbusReceiver rx;
    std::string arrived;
    while (!input.atEnd()) {
        const std::string chunk = input.chunk();
        const std::string before = rx.buffer();
        arrived = before + chunk;
        for (const ModbusEvent &event : rx.take(chunk, accepted)) {
            if (event.kind != ModbusEvent::Kind::Answer) {
                require(event.answer.empty(), "an error carries an answer");
                continue;
            }
            require(accepted.test(event.address), "an answer from an address not accepted");
            require(event.answer.size() + 4 >= kModbusMinFrame, "an answer shorter than a frame");
            // The frame that carries it: address, "B", the text, its CRC low byte first.
            require(arrived.find(modbusFrame(event.address, "B" + event.answer)) !=
                        std::string::npos,
                    "an answer is not the text of a valid frame that arrived");
        }
        require(rx.buffer().size() <= kModbusBufferLimit, "the buffer outgrows its bound");
        require(arrived.ends_with(rx.buffer()),
                "the buffer lost characters other than at its front");
        require(!holdsCompleteFrame(rx.buffer(), accepted),
                "a complete frame is left in the buffer");
    }
    return 0;
}
