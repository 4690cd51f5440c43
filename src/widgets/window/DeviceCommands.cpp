#include "widgets/window/frmSerial.h"

#include "pure/CommandLines.h"

namespace quenta {

void frmSerial::Command1_Click() {
    if (search.AddrStep == 1) {
        Timer3->setEnabled(true);
        Text8->clear();
        return;
    }
    const NewAddress address = setAddressLine(Text2->text().toStdString());
    if (address.outOfRange) {
        showAnswer(QStringLiteral("Nothing sent: a bus address lies in 0 to 255, not %1.")
                       .arg(Text2->text()));
    }
    if (address.line) {
        WriteCOM32(*address.line);
    }
}

void frmSerial::Command6_Click() {
    WriteCOM32(kInstallCommand);
    sleeper_->sleep(1000);
    WriteCOM32(kVersionQuery);
}

void frmSerial::Command4_Click() {
    Text8->clear();
    WriteCOM32(kInfoCommand);
}

} // namespace quenta
