#include "flash/AnswerReader.h"

namespace quenta::flash {

std::vector<Answer> AnswerReader::take(std::string_view bytes) {
    std::vector<Answer> answers;
    if (!modbus_) {
        for (std::string &line : lines_.take(bytes)) {
            answers.push_back({std::nullopt, std::move(line)});
        }
        return answers;
    }
    for (ModbusEvent &event : frames_.take(bytes, accepted_)) {
        if (event.kind == ModbusEvent::Kind::Answer) {
            answers.push_back({event.address, std::move(event.answer)});
        }
    }
    return answers;
}

void AnswerReader::clear() {
    lines_.clear();
    frames_.clear();
}

} // namespace quenta::flash
