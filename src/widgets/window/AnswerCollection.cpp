#include "widgets/window/frmSerial.h"

#include "io/ControlError.h"
#include "pure/NumberText.h"
#include "widgets/controls/VbColor.h"

namespace quenta {

void frmSerial::TMRComm_Timer() {
    RxAnswer.clear();
    try {
        if (++BlinkCount >= 10) {
            BlinkCount = 0;
            Pic->setFillColor(Pic->fillColor() == VbColor::White ? VbColor::Grey : VbColor::White);
        }
        const std::string read = MSComm1->inBufferCount() > 0 ? MSComm1->input() : std::string();
        if (read.size() >= kPlainMinAnswer) {
            Pic->setFillColor(VbColor::Red);
        }
        if (Check1->checkState() == Qt::Checked) {
            collectModbus(read);
        } else {
            collectPlain(read);
        }
    } catch (const ControlError &error) {
        if (error.number() == CommError::PortLost) {
            portLost(error.description());
        }
    } catch (const std::exception &) {
        // A failing tick is dropped; the next one starts afresh.
    }
}

void frmSerial::collectPlain(const std::string &read) {
    RxFrame.clear();
    auto answer = takePlainAnswer(RxPlain, read);
    if (!answer) {
        return;
    }
    Pic->setFillColor(VbColor::Red);
    RxAnswer = std::move(*answer);
    Com_Parser();
}

void frmSerial::collectModbus(const std::string &read) {
    RxPlain = {};
    // The answer of every board a command went to counts as that board's, even when the address
    // box has moved on meanwhile (a probe answered after the next probe left).
    AddressSet accepted = awaited_;
    const auto current = deviceAddress(Text1->text().toStdString());
    if (current) {
        accepted.set(*current);
    }
    for (ModbusEvent &event : RxFrame.take(read, accepted)) {
        switch (event.kind) {
        case ModbusEvent::Kind::AddressError:
            showAnswer("Error ADDR  >> " + read);
            break;
        case ModbusEvent::Kind::MarkerError:
            showAnswer("Error CMD  >> " + read);
            break;
        case ModbusEvent::Kind::Answer:
            awaited_.reset();
            if (search.AddrStep == 1 && event.address != current) {
                Text1->setText(QString::number(event.address));
                search.ScanPort = static_cast<std::int16_t>(event.address + 1);
            }
            RxAnswer = std::move(event.answer);
            Com_Parser();
            break;
        }
    }
}

void frmSerial::showAnswer(std::string_view text) {
    Text8->setText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

} // namespace quenta
