#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace quenta::fuzzing {

// Stops the run, so that the fuzzer keeps the input, when something that must hold does not.
inline void require(bool holds, const char *what) {
    if (!holds) {
        std::fprintf(stderr, "Broken: %s\n", what);
        std::abort();
    }
}

// Takes a fuzz input apart from the front: single bytes for choices, then length-prefixed chunks.
// Past the end every byte reads as 0 and every text as empty.
class InputBytes {
public:
    InputBytes(const std::uint8_t *data, std::size_t size)
        : bytes_(reinterpret_cast<const char *>(data), size) {}

    bool atEnd() const { return bytes_.empty(); }

    std::uint8_t byte() {
        if (bytes_.empty()) {
            return 0;
        }
        const auto value = static_cast<std::uint8_t>(bytes_.front());
        bytes_.remove_prefix(1);
        return value;
    }

    // A length byte, then that many bytes, or what is left when fewer remain.
    std::string chunk() {
        const std::size_t length = byte();
        const std::string_view taken = bytes_.substr(0, length);
        bytes_.remove_prefix(taken.size());
        return std::string(taken);
    }

private:
    std::string_view bytes_;
};

} // namespace quenta::fuzzing
