#include "pure/AnswerReader.h"

#include "pure/Answers.h"

namespace quenta {

Reading AnswerReader::take(std::string_view bytes, Micros now) {
    Reading reading;
    if (bytes.empty()) {
        return reading;
    }
    reads_.emplace_back(position(), now);
    if (!modbus_) {
        for (Line &line : lines_.take(bytes)) {
            const auto keyword = keywordStart(line.text);
            if (line.overlong || !keyword) {
                ++reading.unreadable;
                continue;
            }
            const std::uint64_t begin = line.begin + *keyword;
            reading.answers.push_back({std::nullopt, std::move(line.text), begin, readAt(begin)});
        }
        forgetReadsBefore(lines_.pendingBegin());
        return reading;
    }
    for (ModbusEvent &event : frames_.take(bytes, accepted_)) {
        if (event.kind == ModbusEvent::Kind::Answer) {
            reading.answers.push_back(
                {event.address, std::move(event.answer), event.begin, readAt(event.begin)});
        } else if (event.kind == ModbusEvent::Kind::MarkerError) {
            ++reading.unreadable;
        }
    }
    forgetReadsBefore(frames_.bufferBegin());
    return reading;
}

void AnswerReader::clear() {
    lines_.clear();
    frames_.clear();
    reads_.clear();
}

std::uint64_t AnswerReader::position() const {
    return modbus_ ? frames_.position() : lines_.position();
}

Micros AnswerReader::readAt(std::uint64_t position) const {
    Micros at = reads_.empty() ? 0 : reads_.front().second;
    for (const auto &[first, moment] : reads_) {
        if (first > position) {
            break;
        }
        at = moment;
    }
    return at;
}

// Keeps the read that brought the character at `position` and those after it.
void AnswerReader::forgetReadsBefore(std::uint64_t position) {
    while (reads_.size() > 1 && reads_[1].first <= position) {
        reads_.pop_front();
    }
}

} // namespace quenta
