#include "window/frmSerial.h"

#include "controls/VbColor.h"
#include "link/ModbusFrame.h"
#include "protocol/NumberText.h"

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
    const auto address = deviceAddress(Text1->text().toStdString());
    // A long read is examined piece by piece, so that answers in front of a flood of other
    // characters are not pushed out of the bounded buffer before they were looked at.
    constexpr std::size_t kPiece = kModbusBufferLimit / 2;
    for (std::size_t offset = 0; offset < read.size(); offset += kPiece) {
        RxFrame.append(read, offset, kPiece);
        if (address) {
            takeModbusAnswers(*address, read);
        } else if (RxFrame.size() > kModbusBufferLimit) {
            RxFrame.erase(0, RxFrame.size() - kModbusBufferLimit);
        }
    }
}

void frmSerial::takeModbusAnswers(std::uint8_t address, const std::string &read) {
    for (;;) {
        ModbusScan scan = takeModbusAnswer(RxFrame, address);
        switch (scan.kind) {
        case ModbusScan::Kind::Incomplete:
            return;
        case ModbusScan::Kind::AddressError:
            showAnswer("Error ADDR  >> " + read);
            break;
        case ModbusScan::Kind::MarkerError:
            showAnswer("Error CMD  >> " + read);
            break;
        case ModbusScan::Kind::Answer:
            RxAnswer = std::move(scan.answer);
            Com_Parser();
            break;
        }
    }
}

void frmSerial::showAnswer(std::string_view text) {
    Text8->setText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

} // namespace quenta
