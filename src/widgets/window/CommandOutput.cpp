#include "widgets/window/frmSerial.h"

#include "pure/NumberText.h"
#include "widgets/controls/VbColor.h"

namespace quenta {

int frmSerial::WriteCOM32(std::string_view COMString) {
    if (!MSComm1->portOpen()) {
        return 0;
    }
    try {
        Pic->setFillColor(VbColor::DarkGreen);
        if (TMRComm->enabled()) {
            TMRComm->setEnabled(false);
            TMRComm->setEnabled(true);
        }
        std::optional<std::uint8_t> address;
        if (Check1->checkState() == Qt::Checked && !(address = modbusAddress())) {
            return 0;
        }
        const std::string frame = frameCommand(COMString, address);
        MSComm1->setOutput(frame);
        return static_cast<int>(frame.size());
    } catch (const std::exception &) {
        return 0;
    }
}

std::optional<std::uint8_t> frmSerial::modbusAddress() {
    const AddressReading reading = readDeviceAddress(Text1->text().toStdString());
    switch (reading.fault) {
    case AddressReading::Fault::None:
        return reading.address;
    case AddressReading::Fault::NoNumber:
        // Address 0 would reach every board on the bus: nothing goes out.
        showAnswer(QStringLiteral("Nothing sent: the device address \"%1\" is no number.")
                       .arg(Text1->text()));
        break;
    case AddressReading::Fault::OutOfRange:
        showAnswer(QStringLiteral("Nothing sent: the device address %1 lies outside 0 to 255.")
                       .arg(Text1->text()));
        break;
    }
    return std::nullopt;
}

} // namespace quenta
