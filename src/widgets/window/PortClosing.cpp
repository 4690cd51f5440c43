#include "widgets/window/frmSerial.h"

#include "widgets/controls/VbColor.h"

namespace quenta {

void frmSerial::BTNCloseCom_Click() {
    Timer3->setEnabled(false);
    TMRComm->setEnabled(false);
    vbalProgressBar1->setText(QStringLiteral("NO FILE"));
    Label2->setText(QStringLiteral("Closed"));
    Text8->clear();
    stopJob();
    awaited_.reset();
    MSComm1->setPortOpen(false);
    showPortLit(false);
    SwitchTags();
    // The firmware file is read whole and closed within its own click: no file is left open here.
}

// The device went away while open: the window closes as Close does and says so.
void frmSerial::portLost(const QString &why) {
    Timer3->setEnabled(false);
    TMRComm->setEnabled(false);
    if (job.running()) {
        vbalProgressBar1->setText(QStringLiteral("ERROR"));
        vbalProgressBar1->setBarColor(VbColor::Red);
    }
    stopJob();
    awaited_.reset();
    MSComm1->setPortOpen(false);
    Label2->setText(QStringLiteral("Not present board"));
    showAnswer(QStringLiteral("Port lost: ") + why);
    showPortLit(false);
    if (BTNCloseCom->isEnabled()) {
        SwitchTags();
    }
}

void frmSerial::stopJob() {
    job.stop();
    lineDue_.reset();
    jobAlarm_.reset();
}

} // namespace quenta
