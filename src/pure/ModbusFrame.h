#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenta {

// A command as it goes on a Modbus line: address character, command text, CRC-16 low byte first.
std::string modbusFrame(std::uint8_t address, std::string_view command);

// A command as it goes on the line: framed for a Modbus address, or as it stands without one.
std::string frameCommand(std::string_view command, std::optional<std::uint8_t> modbusAddress);

// The receive buffer never grows past this: no answer of the bootloader comes near it.
inline constexpr std::size_t kModbusBufferLimit = 256;

// The shortest answer frame: address, "B", two characters of text, two CRC characters.
inline constexpr std::size_t kModbusMinFrame = 6;

// The device addresses whose answers are taken.
using AddressSet = std::bitset<256>;

struct ModbusEvent {
    enum class Kind {
        Answer,       // a valid frame from an accepted address
        AddressError, // the buffer did not start with an accepted address
        MarkerError,  // the buffer started with an accepted address but not with the marker "B"
    };
    Kind kind = Kind::Answer;
    std::uint8_t address = 0; // the frame's address (Kind::Answer)
    std::string answer;       // the answer text without address, marker and CRC (Kind::Answer)
    std::uint64_t begin = 0;  // where its first character stands among all the characters taken
};

// Collects Modbus answer frames from the characters a port delivers, whatever pieces they come
// in. A valid frame (address, marker, text, CR LF, and the CRC-16 over all of them) is taken off
// the front of the buffer; a buffer that starts with a wrong address loses its front up to the
// next place where a frame could start (an accepted address followed by "B"); one that starts with
// an accepted address but not the marker is a marker error once that frame is complete, and loses
// its front as a wrong address once a complete frame follows (a character may only look like the
// address); a frame that can no longer complete, because a complete frame follows it, is dropped
// in favour of that frame; and the buffer is kept within kModbusBufferLimit.
class ModbusReceiver {
public:
    // Adds the characters of one read and returns what they complete, in order. With no accepted
    // address nothing is examined: the characters are only kept, within the bound.
    std::vector<ModbusEvent> take(std::string_view read, const AddressSet &accepted);

    // The same, handing each event on as it is found: `accepted` is read afresh for every frame,
    // so that what the handling of one frame changes in it holds for the next.
    void take(std::string_view read, const AddressSet &accepted,
              const std::function<void(ModbusEvent)> &onEvent);

    // Takes what the buffer holds as one frame without its line end, when nothing more is coming:
    // a frame from an accepted address with the marker whose last two characters are the CRC-16
    // of the rest. (While characters still come, two of them may happen to be the CRC of those
    // before them: a frame without its line end is only complete once the line is quiet.)
    std::vector<ModbusEvent> flush(const AddressSet &accepted);

    const std::string &buffer() const { return buffer_; }
    void clear();
    // The characters taken so far.
    std::uint64_t position() const { return start_ + buffer_.size(); }
    // Where the characters still kept begin among all the characters taken.
    std::uint64_t bufferBegin() const { return start_; }

private:
    std::optional<ModbusEvent> scan(const AddressSet &accepted);
    // Where the first complete frame begins, looking from `from` on (0: the buffer's front, as it
    // is; past it, the places where a frame could start).
    std::optional<std::size_t> firstCompleteFrame(const AddressSet &accepted,
                                                  std::size_t from) const;
    void drop(std::size_t count);

    std::string buffer_;
    std::uint64_t start_ = 0; // the position of the buffer's first character
};

} // namespace quenta
