#include "widgets/window/frmSerial.h"

#include "pure/CommandLines.h"
#include "widgets/controls/VbColor.h"

namespace quenta {

void frmSerial::Timer3_Timer() {
    if (search.Scanning != 0) {
        const auto tick = search.usbTick(MSComm1->portOpen());
        Label2->setText(QStringLiteral("WAIT Connect: %1").arg(tick.shown));
        switch (tick.step) {
        case ConnectionSearch::UsbStep::Complete:
            completeConnection();
            break;
        case ConnectionSearch::UsbStep::GiveUp:
            showNotAvailable(
                txt[0]->text() +
                QStringLiteral(" Not available! Use Serial settings to setup your ports."));
            break;
        case ConnectionSearch::UsbStep::TryOpen:
            OPEN_PORT();
            break;
        }
        return;
    }

    const auto tick = search.probeTick();
    Label2->setText(QStringLiteral("WAIT Connect: %1").arg(tick.shown));
    if (tick.giveUp) {
        awaited_.reset();
        showNotAvailable(txt[0]->text() + QStringLiteral(" Not connect !"));
        return;
    }
    if (tick.address) {
        Text1->setText(QString::number(*tick.address));
        // The answer of every address the search probed counts, late or not, until one answers.
        if (Check1->checkState() == Qt::Checked) {
            awaited_.set(static_cast<std::size_t>(*tick.address));
        } else {
            awaited_.reset();
        }
    }
    WriteCOM32(kInfoCommand);
}

void frmSerial::completeConnection() {
    Label2->setText(QStringLiteral("Ready"));
    Timer3->setEnabled(false);
    vbalProgressBar1->setValue(0);
    vbalProgressBar1->setBarColor(VbColor::Navy);
    SwitchTags();
    TMRComm->setEnabled(true);
    sleeper_->sleep(100);
    WriteCOM32(kInfoCommand);
    job.TransferRequested = 0;
    job.FileLoaded = 0;
}

} // namespace quenta
