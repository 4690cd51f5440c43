#include "widgets/window/frmSerial.h"

namespace quenta {

void frmSerial::Command5_Click() {
    const auto send = job.nextLine();
    if (!send) {
        return;
    }
    if (send->barText) {
        vbalProgressBar1->setText(QString::fromStdString(*send->barText));
    }
    WriteCOM32(send->command);
    vbalProgressBar1->setValue(send->barValue);
}

} // namespace quenta
