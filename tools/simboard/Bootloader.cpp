#include "simboard/Bootloader.h"

#include "simboard/Crc.h"

#include <algorithm>
#include <utility>

namespace simboard {
namespace {

constexpr std::string_view kOk = "OK\r\n";
constexpr std::string_view kError = "ERROR\r\n";
constexpr std::string_view kDownload = "DOWNLOAD\r\n";

constexpr std::string_view kPrefix = "BOOT";
constexpr std::string_view kDownloadPrefix = "BOOT:";

// Address byte, CR LF, two CRC bytes: the shortest frame that can hold a line.
constexpr std::size_t kShortestFrame = 5;

// The longest command frame: a download line with 255 data bytes.
constexpr std::size_t kLongestFrame = 1 + 5 + 2 * (5 + 255) + 2 + 2;

// The input never grows past this.
constexpr std::size_t kInputLimit = 2 * kLongestFrame;

// Whether the frame's last two bytes are the CRC-16 over the others, low byte first.
bool crcCloses(std::string_view frame) {
    const std::uint16_t crc = crc16(frame.substr(0, frame.size() - 2));
    return static_cast<unsigned char>(frame[frame.size() - 2]) == (crc & 0xFF) &&
           static_cast<unsigned char>(frame[frame.size() - 1]) == (crc >> 8);
}

std::string_view withoutLineEnd(std::string_view line) {
    if (line.ends_with("\r\n")) {
        line.remove_suffix(2);
    } else if (line.ends_with('\n')) {
        line.remove_suffix(1);
    }
    return line;
}

bool isUpperHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

int upperHexValue(char c) {
    return c <= '9' ? c - '0' : c - 'A' + 10;
}

} // namespace

BootloaderOptions blankBoard(BootloaderOptions like, std::string version) {
    like.version = std::move(version);
    like.memory = Memory{};
    return like;
}

Bootloader::Bootloader(BootloaderOptions options) : options_(std::move(options)) {}

std::vector<Exchange> Bootloader::receive(std::string_view bytes) {
    input_.append(bytes);
    auto exchanges = options_.modbus ? takeFrames() : takeLines();
    if (input_.size() > kInputLimit) {
        consume(input_.size() - kInputLimit);
    }
    return exchanges;
}

void Bootloader::dropInput() {
    consume(input_.size());
}

void Bootloader::reboot(std::size_t lost) {
    journal_.undo(options_.memory, lost);
    pass_ = HexPass{};
    passLines_ = 0;
    verifyDiffered_ = false;
    dropInput();
}

void Bootloader::consume(std::size_t count) {
    input_.erase(0, count);
    consumed_ += count;
    nextEnd_ = nextEnd_ > count ? nextEnd_ - count : 0;
}

std::vector<Exchange> Bootloader::takeLines() {
    std::vector<Exchange> exchanges;
    for (std::size_t end = input_.find('\n'); end != std::string::npos; end = input_.find('\n')) {
        const std::uint64_t position = consumed_;
        std::string line = input_.substr(0, end + 1);
        consume(end + 1);
        exchanges.push_back(take(std::move(line), position, end + 1));
    }
    return exchanges;
}

std::vector<Exchange> Bootloader::takeFrames() {
    std::vector<Exchange> exchanges;
    while (const auto span = findFrame()) {
        const std::uint64_t position = consumed_ + span->start;
        std::string line = input_.substr(span->start + 1, span->end - span->start - 3);
        consume(span->end);
        nextEnd_ = 0;
        exchanges.push_back(take(std::move(line), position, span->end - span->start));
    }
    return exchanges;
}

std::optional<Bootloader::Span> Bootloader::findFrame() {
    const std::string_view input = input_;
    const char address = static_cast<char>(options_.address);
    for (std::size_t end = std::max(nextEnd_, kShortestFrame); end <= input.size(); ++end) {
        nextEnd_ = end + 1;
        if (input.substr(end - 4, 2) != "\r\n") {
            continue;
        }
        const std::size_t first = end > kLongestFrame ? end - kLongestFrame : 0;
        for (std::size_t start = first; start + kShortestFrame <= end; ++start) {
            if (input[start] == address && crcCloses(input.substr(start, end - start))) {
                return Span{start, end};
            }
        }
    }
    return std::nullopt;
}

Exchange Bootloader::take(std::string line, std::uint64_t position, std::size_t length) {
    const std::uint8_t address = options_.address;
    const std::string_view text = withoutLineEnd(line);
    const bool downloadLine = text.starts_with(kDownloadPrefix);
    const std::size_t passLine = downloadLine ? ++passLines_ : 0;
    std::string answer = answerTo(text);
    if (options_.modbus) {
        answer = withCrc(std::string(1, static_cast<char>(address)) + "B" + answer);
    }
    return {std::move(line), std::move(answer), position, length, downloadLine, passLine};
}

std::string Bootloader::answerTo(std::string_view text) {
    if (text == "VER" || text == "BOOTi") {
        return "VER=" + options_.version + "\r\n";
    }
    if (!text.starts_with(kPrefix)) {
        return std::string(kError);
    }
    const std::string_view payload = text.substr(kPrefix.size());
    if (payload == "g") {
        return std::string(kOk);
    }
    if (payload.starts_with(':')) {
        return record(payload.substr(1), false);
    }
    if (payload.starts_with('#')) {
        return record(payload.substr(1), true);
    }
    if (payload.starts_with('$')) {
        return setAddress(payload.substr(1));
    }
    return std::string(kError);
}

std::string Bootloader::record(std::string_view digits, bool compare) {
    const auto parsed = parseRecord(digits);
    if (!parsed) {
        return std::string(kError);
    }
    if (!compare) {
        journal_.remember(options_.memory, pass_.placement(*parsed));
    }
    switch (compare ? pass_.compare(options_.memory, *parsed)
                    : pass_.write(options_.memory, *parsed)) {
    case HexPass::Result::Taken:
        return std::string(kOk);
    case HexPass::Result::EndOfFile:
        return endPass(compare);
    case HexPass::Result::Mismatch:
        break;
    }
    if (options_.verifyReportsAtEnd) {
        verifyDiffered_ = true;
        return std::string(kOk);
    }
    return std::string(kError);
}

std::string Bootloader::endPass(bool compare) {
    const bool differed = std::exchange(verifyDiffered_, false);
    passLines_ = 0;
    return std::string(compare && differed ? kError : kDownload);
}

// Two upper-case hexadecimal digits; 00, which no board can answer to, is refused.
std::string Bootloader::setAddress(std::string_view digits) {
    if (digits.size() != 2 || !isUpperHexDigit(digits[0]) || !isUpperHexDigit(digits[1])) {
        return std::string(kError);
    }
    const auto address =
        static_cast<std::uint8_t>(upperHexValue(digits[0]) << 4 | upperHexValue(digits[1]));
    if (address == 0) {
        return std::string(kError);
    }
    options_.address = address;
    return std::string(kOk);
}

} // namespace simboard
