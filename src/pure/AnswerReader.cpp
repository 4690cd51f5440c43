#include "pure/AnswerReader.h"

#include "pure/Answers.h"

namespace quenta {

Reading AnswerReader::take(std::string_view bytes) {
    Reading reading;
    if (!modbus_) {
        for (Line &line : lines_.take(bytes)) {
            takeLine(line, reading);
        }
        return reading;
    }
    for (ModbusEvent &event : frames_.take(bytes, accepted_)) {
        takeFrame(event, reading);
    }
    return reading;
}

Reading AnswerReader::flush() {
    Reading reading;
    if (!pending()) {
        return reading;
    }
    if (!modbus_) {
        Line line = lines_.takePending();
        takeLine(line, reading);
        return reading;
    }
    for (ModbusEvent &event : frames_.flush(accepted_)) {
        takeFrame(event, reading);
    }
    return reading;
}

bool AnswerReader::pending() const {
    if (modbus_) {
        return frames_.buffer().size() >= kModbusMinFrame;
    }
    const std::string &line = lines_.pending();
    return line.size() >= kShortestLooseAnswer && keywordStart(line).has_value();
}

void AnswerReader::takeLine(Line &line, Reading &reading) {
    const auto keyword = keywordStart(line.text);
    if (line.overlong || !keyword) {
        ++reading.unreadable;
        return;
    }
    reading.answers.push_back({std::nullopt, std::move(line.text), line.begin + *keyword});
}

void AnswerReader::takeFrame(ModbusEvent &event, Reading &reading) {
    if (event.kind == ModbusEvent::Kind::Answer) {
        reading.answers.push_back({event.address, std::move(event.answer), event.begin});
    } else if (event.kind == ModbusEvent::Kind::MarkerError) {
        ++reading.unreadable;
    }
}

void AnswerReader::clear() {
    lines_.clear();
    frames_.clear();
}

std::uint64_t AnswerReader::position() const {
    return modbus_ ? frames_.position() : lines_.position();
}

} // namespace quenta
