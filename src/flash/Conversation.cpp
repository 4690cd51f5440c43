#include "flash/Conversation.h"

#include "pure/Answers.h"
#include "pure/CommandLines.h"

namespace quenta::flash {

Conversation::Conversation(FlashPort &port, std::optional<std::uint8_t> address, Patience patience,
                           QObject *parent)
    : QObject(parent), port_(port), address_(address), patience_(patience),
      reader_(address.has_value()) {
    if (address_) {
        AddressSet accepted;
        accepted.set(*address_);
        reader_.accept(accepted);
    }
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &Conversation::onTimeout);
    connect(&port_, &FlashPort::received, this, &Conversation::onBytes);
}

void Conversation::ask(std::string command) {
    command_ = std::move(command);
    probing_ = false;
    tries_ = 0;
    send();
}

void Conversation::probe(QDeadlineTimer deadline) {
    command_ = std::string(kInfoCommand);
    probing_ = true;
    probeDeadline_ = deadline;
    reader_.clear();
    send();
}

void Conversation::stop() {
    waiting_ = false;
    timer_.stop();
    reader_.clear();
}

void Conversation::send() {
    waiting_ = true;
    if (!probing_) {
        ++commands_;
    }
    port_.write(frameCommand(command_, address_));
    timer_.start(probing_ ? kProbeIntervalMs : patience_.timeoutMs);
}

void Conversation::onBytes(const QByteArray &bytes) {
    for (const Answer &answer : reader_.take(
             std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())))) {
        const Keyword keyword = findKeyword(answer.text);
        if (!waiting_ || keyword == Keyword::None || (keyword == Keyword::Version) != probing_) {
            continue;
        }
        waiting_ = false;
        timer_.stop();
        emit answered(answer.text);
        return;
    }
}

void Conversation::onTimeout() {
    if (!waiting_) {
        return;
    }
    if (probing_ ? !probeDeadline_.hasExpired() : tries_ < patience_.retries) {
        if (!probing_) {
            ++tries_;
            ++retries_;
        }
        send();
        return;
    }
    waiting_ = false;
    emit silent();
}

} // namespace quenta::flash
