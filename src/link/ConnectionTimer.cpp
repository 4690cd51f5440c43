#include "window/frmSerial.h"

#include "controls/VbColor.h"
#include "transfer/CommandLines.h"

namespace quenta {

void frmSerial::Timer3_Timer() {
    if (Scanning != 0) {
        ++ScanPort;
        Label2->setText(QStringLiteral("WAIT Connect: %1").arg(ScanPort));
        if (MSComm1->portOpen()) {
            completeConnection();
            return;
        }
        if (ScanPort >= kUsbScanLimit) {
            showNotAvailable(
                txt[0]->text() +
                QStringLiteral(" Not available! Use Serial settings to setup your ports."));
            return;
        }
        OPEN_PORT();
        return;
    }

    Label2->setText(QStringLiteral("WAIT Connect: %1").arg(ScanPort));
    if (ScanPort >= kProbeLimit) {
        showNotAvailable(txt[0]->text() + QStringLiteral(" Not connect !"));
        ScanPort = 1;
        return;
    }
    if (AddrStep == 1) {
        Text1->setText(QString::number(ScanPort));
    }
    WriteCOM32(kInfoCommand);
    ++ScanPort;
}

void frmSerial::completeConnection() {
    ScanPort = 1;
    Label2->setText(QStringLiteral("Ready"));
    Timer3->setEnabled(false);
    vbalProgressBar1->setValue(0);
    vbalProgressBar1->setBarColor(VbColor::Navy);
    SwitchTags();
    TMRComm->setEnabled(true);
    sleeper_->sleep(100);
    WriteCOM32(kInfoCommand);
    TransferRequested = 0;
    FileLoaded = 0;
}

} // namespace quenta
