#include "window/frmSerial.h"

#include "controls/VbColor.h"
#include "link/ModbusFrame.h"
#include "protocol/NumberText.h"

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
        std::string frame;
        if (Check1->checkState() == Qt::Checked) {
            const auto address = deviceAddress(Text1->text().toStdString());
            if (!address) {
                return 0;
            }
            frame = modbusFrame(*address, COMString);
        } else {
            frame.assign(COMString);
        }
        MSComm1->setOutput(frame);
        return static_cast<int>(frame.size());
    } catch (const std::exception &) {
        return 0;
    }
}

} // namespace quenta
