#include "widgets/window/frmSerial.h"

#include "io/port/ControlError.h"
#include "pure/AnswerReader.h"
#include "pure/NumberText.h"
#include "widgets/controls/VbColor.h"

namespace quenta {
namespace {

// The lamp turns red when a poll reads at least this many characters.
constexpr std::size_t kLampRedAt = 4;

} // namespace

void frmSerial::TMRComm_Timer() {
    RxAnswer.clear();
    try {
        if (++BlinkCount >= 10) {
            BlinkCount = 0;
            Pic->setFillColor(Pic->fillColor() == VbColor::White ? VbColor::Grey : VbColor::White);
        }
        const std::string read = MSComm1->inBufferCount() > 0 ? MSComm1->input() : std::string();
        if (read.size() >= kLampRedAt) {
            Pic->setFillColor(VbColor::Red);
        }
        const std::int64_t now = clock_->now();
        if (!read.empty()) {
            // The job's next line goes out first, so that the poll's countdown, which its send
            // restarts, is not held up by showing the answers.
            const JobView view = job.received(read, now);
            sendJobLines(view);
            collect(read);
            showJob(view);
        } else {
            // A poll that reads nothing ends what came without its line end.
            collectQuiet();
            if (job.answerPending()) {
                runJob(job.quiet(now));
            }
        }
        if (jobAlarm_ && now >= *jobAlarm_) {
            jobAlarm_.reset();
            runJob(job.timerFired(now));
        }
    } catch (const ControlError &error) {
        if (error.number() == CommError::PortLost) {
            portLost(error.description());
        }
    } catch (const std::exception &) {
        // A failing tick is dropped; the next one starts afresh.
    }
}

// Shows every answer the characters complete; the job takes the same characters by itself.
void frmSerial::collect(const std::string &read) {
    if (Check1->checkState() == Qt::Checked) {
        collectModbus(read);
    } else {
        collectPlain(read);
    }
}

void frmSerial::collectPlain(const std::string &read) {
    RxFrame.clear();
    for (Line &line : RxLines.take(read)) {
        RxAnswer = std::move(line.text);
        Com_Parser();
    }
}

void frmSerial::collectModbus(const std::string &read) {
    RxLines.clear();
    // Each frame is judged by the addresses as the frame before it left them: the first board that
    // answers the address search is the one found, and the search's other addresses are done.
    AddressSet accepted = acceptedAddresses();
    RxFrame.take(read, accepted, [&](ModbusEvent event) {
        takeFrame(std::move(event), read);
        accepted = acceptedAddresses();
    });
}

void frmSerial::collectQuiet() {
    if (Check1->checkState() == Qt::Checked) {
        for (ModbusEvent &event : RxFrame.flush(acceptedAddresses())) {
            takeFrame(std::move(event), RxFrame.buffer());
        }
    } else if (RxLines.pending().size() >= kShortestLooseAnswer) {
        RxAnswer = RxLines.takePending().text;
        Com_Parser();
    }
}

void frmSerial::takeFrame(ModbusEvent event, const std::string &read) {
    switch (event.kind) {
    case ModbusEvent::Kind::AddressError:
        showAnswer("Error ADDR  >> " + read);
        break;
    case ModbusEvent::Kind::MarkerError:
        showAnswer("Error CMD  >> " + read);
        break;
    case ModbusEvent::Kind::Answer:
        if (awaited_.test(event.address)) {
            foundInSearch(event.address);
        }
        RxAnswer = std::move(event.answer);
        Com_Parser();
        break;
    }
}

AddressSet frmSerial::acceptedAddresses() const {
    AddressSet accepted = awaited_;
    if (const auto current = deviceAddress(Text1->text().toStdString())) {
        accepted.set(*current);
    }
    return accepted;
}

void frmSerial::foundInSearch(std::uint8_t address) {
    awaited_.reset();
    if (deviceAddress(Text1->text().toStdString()) != address) {
        Text1->setText(QString::number(address));
        search.ScanPort = static_cast<std::int16_t>(address + 1);
    }
}

void frmSerial::showAnswer(std::string_view text) {
    showAnswer(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

// A text longer than the box shows its start.
void frmSerial::showAnswer(const QString &text) {
    Text8->setText(text);
    Text8->setCursorPosition(0);
}

} // namespace quenta
