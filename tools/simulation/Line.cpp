#include "simulation/Line.h"

namespace simulation {

std::string noise(Rng &rng, char address) {
    static const char alphabet[] = "bcghijpqstuxyz0123456789#$%&*+-./<>?@[]^_{}|~";
    std::string bytes;
    const int length = rng.between(1, 6);
    while (static_cast<int>(bytes.size()) < length) {
        const char c = alphabet[rng.below(static_cast<int>(sizeof alphabet) - 1)];
        if (c != address) {
            bytes += c;
        }
    }
    return bytes;
}

std::string printable(const std::string &bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F) {
            text += c;
        } else {
            text += std::string("\\x") + digits[u >> 4] + digits[u & 0xF];
        }
    }
    return text;
}

std::size_t keywordOffset(const std::string &bytes, bool modbus) {
    if (modbus) {
        return 0;
    }
    for (const char *keyword : {"VER=", "ERROR", "DOWNLOAD", "OK"}) {
        const std::size_t at = bytes.find(keyword);
        if (at != std::string::npos) {
            return at;
        }
    }
    return 0;
}

std::string keywordOf(const std::string &text) {
    for (const char *keyword : {"ERROR", "DOWNLOAD", "OK"}) {
        if (text.rfind(keyword, 0) == 0) {
            return keyword;
        }
    }
    if (text.rfind("VER=", 0) == 0) {
        return text.substr(0, text.find('\r'));
    }
    return {};
}

void Delivery::add(const std::string &more, int item, std::size_t beginOffset) {
    if (item >= 0) {
        const std::size_t last =
            byLines ? more.find_first_of("\r\n", beginOffset) : more.size() - 1;
        pieces.push_back({item, bytes.size() + beginOffset, bytes.size() + last});
    }
    bytes += more;
}

} // namespace simulation
