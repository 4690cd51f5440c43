#include "widgets/window/frmSerial.h"

#include <QCloseEvent>

namespace quenta {

void frmSerial::SwitchTags() {
    for (QWidget *control : findChildren<QWidget *>()) {
        if (!control->property("Tag").toString().isEmpty()) {
            control->setEnabled(control->testAttribute(Qt::WA_Disabled));
        }
    }
}

void frmSerial::Form_Unload(std::int16_t &Cancel) {
    if (!MSComm1->portOpen()) {
        return;
    }
    // Closing mid-download would leave the board half-written: the operator decides.
    if (job.writing() &&
        !messageBox_->ask(QStringLiteral("A download is under way; closing now leaves the board "
                                         "half-written. Close anyway?"))) {
        Cancel = 1;
        return;
    }
    MSComm1->setPortOpen(false);
}

void frmSerial::closeEvent(QCloseEvent *event) {
    std::int16_t cancel = 0;
    Form_Unload(cancel);
    if (cancel != 0) {
        event->ignore();
    } else {
        event->accept();
    }
}

} // namespace quenta
