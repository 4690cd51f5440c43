#include "pure/AnswerReader.h"

namespace quenta {

Reading AnswerReader::take(std::string_view bytes) {
    Reading reading;
    if (!modbus_) {
        const int before = lines_.unreadable();
        for (std::string &line : lines_.take(bytes)) {
            reading.answers.push_back({std::nullopt, std::move(line)});
        }
        reading.unreadable = lines_.unreadable() - before;
        return reading;
    }
    for (ModbusEvent &event : frames_.take(bytes, accepted_)) {
        if (event.kind == ModbusEvent::Kind::Answer) {
            reading.answers.push_back({event.address, std::move(event.answer)});
        } else if (event.kind == ModbusEvent::Kind::MarkerError) {
            ++reading.unreadable;
        }
    }
    return reading;
}

void AnswerReader::clear() {
    lines_.clear();
    frames_.clear();
}

} // namespace quenta
