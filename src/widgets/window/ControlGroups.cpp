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

// The unload always goes ahead: Cancel is never written.
void frmSerial::Form_Unload([[maybe_unused]] std::int16_t &Cancel) {
    if (MSComm1->portOpen()) {
        MSComm1->setPortOpen(false);
    }
}

void frmSerial::closeEvent(QCloseEvent *event) {
    std::int16_t cancel = 0;
    Form_Unload(cancel);
    event->accept();
}

} // namespace quenta
