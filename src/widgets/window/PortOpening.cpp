#include "widgets/window/frmSerial.h"

#include "io/port/ControlError.h"
#include "pure/NumberText.h"
#include "widgets/controls/VbColor.h"

#include <QApplication>

namespace quenta {
namespace {

const QString kNotAvailable =
    QStringLiteral(" Not available! Use Serial settings to setup your ports.");

} // namespace

void frmSerial::BTNOpenCom_Click() {
    // A port that the USB search opened but did not yet take into use is let go first.
    if (MSComm1->portOpen()) {
        MSComm1->setPortOpen(false);
        showPortLit(false);
    }
    search.Scanning = 0;
    if (Option3->isChecked()) {
        MSComm1->setSettings(QStringLiteral("115200,n,8,1"));
    }
    if (Option2->isChecked()) {
        MSComm1->setSettings(QStringLiteral("19200,n,8,1"));
    }
    if (Option1->isChecked()) {
        MSComm1->setSettings(QStringLiteral("9600,n,8,1"));
    }

    if (Option4->isChecked()) {
        MSComm1->setSettings(QStringLiteral("115200,n,8,1"));
        Check1->setCheckState(Qt::Unchecked);
        Text1->setText(QStringLiteral("16"));
        if (search.ScanPort > 1) {
            search.ScanPort = 1;
            Label2->setText(QStringLiteral("No info: "));
            Timer3->setEnabled(false);
            return;
        }
        job.TransferRequested = 0;
        Label2->setText(QStringLiteral("WAIT Connect: "));
        search.ScanPort = 1;
        Timer3->setEnabled(true);
        job.FileLoaded = 0;
        search.Scanning = 1;
        search.AddrStep = 0;
        return;
    }

    search.AddrStep = Text1->text().isEmpty() ? 1 : 0;
    awaited_.reset();
    try {
        openSelectedPort();
        showPortLit(true);
        job.TransferRequested = 0;
        search.ScanPort = 1;
        // Address 0 probes nothing, also when a USB search had the timer running.
        Timer3->setEnabled(Text1->text() != QStringLiteral("0"));
        Command1->setText(search.AddrStep == 1 ? QStringLiteral("Next")
                                               : QStringLiteral("Set Addr"));
        job.FileLoaded = 0;
        Label2->setText(QStringLiteral("Ready"));
        vbalProgressBar1->setValue(0);
        vbalProgressBar1->setBarColor(VbColor::Navy);
        SwitchTags();
        TMRComm->setEnabled(true);
    } catch (const ControlError &) {
        showNotAvailable(txt[0]->text() + kNotAvailable);
    }
}

void frmSerial::OPEN_PORT() {
    try {
        openSelectedPort();
        showPortLit(true);
    } catch (const std::exception &) {
        // A port that is not there yet is looked for again at the next tick.
    }
}

void frmSerial::openSelectedPort() {
    const QString portText = txt[0]->text();
    if (portText.startsWith(QLatin1Char('/'))) {
        MSComm1->setCommPort(portText);
    } else {
        const auto number = toInteger16(portText.mid(3).toStdString());
        if (!number) {
            throw ControlError(13, QStringLiteral("\"%1\" names no port: type COM and a number, "
                                                  "or the path of a device such as /dev/ttyUSB0.")
                                       .arg(portText));
        }
        PortNumber = *number;
        MSComm1->setCommPort(PortNumber);
    }
    MSComm1->setPortOpen(true);
}

void frmSerial::showPortLit(bool lit) {
    Pic->setVisible(lit);
    QPalette palette = txt[0]->palette();
    if (lit) {
        palette.setColor(QPalette::Base, fromBgr(VbColor::Green));
    } else {
        palette.setColor(QPalette::Base, QApplication::palette(txt[0]).color(QPalette::Base));
    }
    txt[0]->setPalette(palette);
}

void frmSerial::showNotAvailable(const QString &message) {
    Timer3->setEnabled(false);
    messageBox_->show(message);
    Label2->setText(QStringLiteral("Not present board"));
}

} // namespace quenta
