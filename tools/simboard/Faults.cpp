#include "simboard/Faults.h"

#include "simboard/Crc.h"

#include <cstddef>

namespace simboard {

std::string noiseBytes() {
    return {'\xA5', '~', '\0', '?'};
}

std::vector<Piece> shapeAnswer(std::string answer, bool modbus, const Faults &faults,
                               std::uint64_t number) {
    if (modbus && faults.bareFrames && answer.size() >= 4 &&
        answer.compare(answer.size() - 4, 2, "\r\n") == 0) {
        answer = withCrc(answer.substr(0, answer.size() - 4));
    }
    if (modbus && faults.corruptCrcEvery != 0 && number % faults.corruptCrcEvery == 0) {
        answer.back() = static_cast<char>(answer.back() ^ 0xFF);
    }
    if (faults.garbageBefore) {
        answer.insert(0, noiseBytes());
    }
    const std::size_t middle = faults.splitAnswers ? answer.size() / 2 : 0;
    const std::chrono::microseconds splitPause = std::chrono::milliseconds(faults.splitDelayMs);
    std::vector<Piece> pieces;
    if (faults.trickle) {
        for (std::size_t i = 0; i < answer.size(); ++i) {
            const std::chrono::microseconds pause =
                i == 0
                    ? std::chrono::microseconds(0)
                    : (i == middle ? splitPause : std::chrono::microseconds(faults.trickleDelayUs));
            pieces.push_back({answer.substr(i, 1), pause});
        }
    } else if (middle != 0) {
        pieces.push_back({answer.substr(0, middle), {}});
        pieces.push_back({answer.substr(middle), splitPause});
    } else {
        pieces.push_back({std::move(answer), {}});
    }
    return pieces;
}

} // namespace simboard
