#include "pure/NumberText.h"

#include "pure/HexDigits.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

namespace quenta {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Walks a text character by character, optionally passing over blanks.
class Cursor {
public:
    Cursor(std::string_view text, bool skipBlanks) : text_(text), skipBlanks_(skipBlanks) {
        settle();
    }
    bool atEnd() const { return pos_ >= text_.size(); }
    char peek() const { return atEnd() ? '\0' : text_[pos_]; }
    void advance() {
        ++pos_;
        settle();
    }
    std::size_t pos() const { return pos_; }

private:
    void settle() {
        while (skipBlanks_ && pos_ < text_.size() && isBlank(text_[pos_])) {
            ++pos_;
        }
    }
    std::string_view text_;
    bool skipBlanks_;
    std::size_t pos_ = 0;
};

// The power of ten of a decimal text's first significant digit, give or take one: enough to tell
// a number too large for a double from one too small. The text is digits with an optional point
// and exponent ("e", an optional minus and digits), and has a digit other than 0.
long long decimalOrder(std::string_view text) {
    // Farther than any count of digits can take the order back.
    constexpr long long kFar = std::numeric_limits<long long>::max() / 4;
    const std::size_t e = text.find('e');
    long long exponent = 0;
    if (e != std::string_view::npos) {
        const std::string_view digits = text.substr(e + 1);
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), exponent);
        exponent = error == std::errc::result_out_of_range ? (digits.front() == '-' ? -kFar : kFar)
                                                           : std::clamp(exponent, -kFar, kFar);
    }
    const std::string_view mantissa = text.substr(0, e);
    const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    const std::size_t first = mantissa.find_first_not_of("0.");
    const long long digitsBeforePoint =
        static_cast<long long>(point) - static_cast<long long>(first);
    return exponent + (first < point ? digitsBeforePoint : digitsBeforePoint + 1);
}

// Decimal text (an optional minus, digits with an optional point, an optional exponent) to the
// nearest number, whatever the locale of the program says about decimal points. A number too large
// for a double reads as infinity, one too small as zero, both with the text's sign.
double toDouble(std::string_view text) {
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc::result_out_of_range) {
        return value;
    }
    const bool negative = text.front() == '-';
    const double magnitude = decimalOrder(text.substr(negative ? 1 : 0)) > 0
                                 ? std::numeric_limits<double>::infinity()
                                 : 0.0;
    return negative ? -magnitude : magnitude;
}

// Passes over a sign, writing a minus (and only a minus) to the decimal text being built.
void takeSign(Cursor &cur, std::string &decimal) {
    if (cur.peek() == '+' || cur.peek() == '-') {
        if (cur.peek() == '-') {
            decimal += '-';
        }
        cur.advance();
    }
}

// "&H" followed by up to eight hexadecimal digits is a 32-bit two's complement value.
NumberScan scanHex(Cursor &cur) {
    NumberScan scan;
    std::uint64_t value = 0;
    int count = 0;
    while (hexDigitValue(cur.peek()) >= 0) {
        value = (value << 4) | static_cast<std::uint64_t>(hexDigitValue(cur.peek()));
        ++count;
        cur.advance();
        scan.end = cur.pos();
        if (count > 8) {
            value = std::numeric_limits<std::uint64_t>::max();
        }
    }
    scan.digits = count > 0;
    if (count > 8) {
        scan.value = std::numeric_limits<double>::infinity();
    } else {
        scan.value =
            static_cast<double>(static_cast<std::int32_t>(static_cast<std::uint32_t>(value)));
    }
    return scan;
}

} // namespace

NumberScan scanNumber(std::string_view text, bool skipBlanks) {
    Cursor cur(text, skipBlanks);
    if (cur.peek() == '&') {
        cur.advance();
        if (cur.peek() == 'H' || cur.peek() == 'h') {
            cur.advance();
            return scanHex(cur);
        }
        return {};
    }

    NumberScan scan;
    std::string compact;
    takeSign(cur, compact);
    auto takeDigits = [&] {
        while (isDigit(cur.peek())) {
            compact += cur.peek();
            scan.digits = true;
            cur.advance();
            scan.end = cur.pos();
        }
    };
    takeDigits();
    if (cur.peek() == '.') {
        compact += '.';
        cur.advance();
        if (scan.digits) {
            scan.end = cur.pos();
        }
        takeDigits();
    }
    if (!scan.digits) {
        return {};
    }
    const char e = cur.peek();
    if (e == 'e' || e == 'E' || e == 'd' || e == 'D') {
        std::string exponent = "e";
        cur.advance();
        takeSign(cur, exponent);
        if (isDigit(cur.peek())) {
            while (isDigit(cur.peek())) {
                exponent += cur.peek();
                cur.advance();
                scan.end = cur.pos();
            }
            compact += exponent;
        }
    }
    scan.value = toDouble(compact);
    return scan;
}

double readNumber(std::string_view text) {
    return scanNumber(text, true).value;
}

double roundHalfEven(double value) {
    if (!std::isfinite(value)) {
        return value;
    }
    const double floor = std::floor(value);
    const double diff = value - floor;
    if (diff < 0.5) {
        return floor;
    }
    if (diff > 0.5) {
        return floor + 1.0;
    }
    return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

std::optional<std::uint8_t> deviceAddress(std::string_view text) {
    const double value = roundHalfEven(readNumber(text));
    if (!(value >= 0.0 && value <= 255.0)) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(value);
}

AddressReading readDeviceAddress(std::string_view text) {
    if (!text.empty() && !scanNumber(text, true).digits) {
        return {0, AddressReading::Fault::NoNumber};
    }
    const auto address = deviceAddress(text);
    if (!address) {
        return {0, AddressReading::Fault::OutOfRange};
    }
    return {*address, AddressReading::Fault::None};
}

std::optional<std::int16_t> toInteger16(std::string_view text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && (text[first] == ' ' || text[first] == '\t')) {
        ++first;
    }
    while (last > first && (text[last - 1] == ' ' || text[last - 1] == '\t')) {
        --last;
    }
    const std::string_view body = text.substr(first, last - first);
    const NumberScan scan = scanNumber(body, false);
    if (!scan.digits || scan.end != body.size()) {
        return std::nullopt;
    }
    const double value = roundHalfEven(scan.value);
    if (!(value >= -32768.0 && value <= 32767.0)) {
        return std::nullopt;
    }
    return static_cast<std::int16_t>(value);
}

} // namespace quenta
