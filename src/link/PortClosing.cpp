#include "window/frmSerial.h"

namespace quenta {

void frmSerial::BTNCloseCom_Click() {
    Timer3->setEnabled(false);
    TMRComm->setEnabled(false);
    vbalProgressBar1->setText(QStringLiteral("NO FILE"));
    Label2->setText(QStringLiteral("Closed"));
    Text8->clear();
    VerifyMode = 0;
    FileLoaded = 0;
    MSComm1->setPortOpen(false);
    showPortLit(false);
    SwitchTags();
    // The firmware file is read whole and closed within its own click: no file is left open here.
}

} // namespace quenta
