#include "window/frmSerial.h"

#include "transfer/CommandLines.h"

namespace quenta {

void frmSerial::Command1_Click() {
    if (AddrStep == 1) {
        Timer3->setEnabled(true);
        Text8->clear();
        return;
    }
    if (const auto line = setAddressLine(Text2->text().toStdString())) {
        WriteCOM32(*line);
    }
}

void frmSerial::Command6_Click() {
    FileLoaded = 0;
    WriteCOM32(kInstallCommand);
    sleeper_->sleep(1000);
    WriteCOM32(kVersionQuery);
}

void frmSerial::Command4_Click() {
    Text8->clear();
    FileLoaded = 0;
    WriteCOM32(kInfoCommand);
}

} // namespace quenta
