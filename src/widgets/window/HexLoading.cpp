#include "widgets/window/frmSerial.h"

#include "io/FirmwareFile.h"
#include "io/port/ControlError.h"
#include "pure/HexRecords.h"

namespace quenta {
namespace {

// Error number raised when a file holds more lines than the line table takes.
constexpr int kSubscriptOutOfRange = 9;

} // namespace

void frmSerial::Command3_Click() {
    loadAndSend(false);
}

void frmSerial::Command2_Click() {
    loadAndSend(true);
}

// The running job, if any, changes only once a new file has been read in full and found sound:
// a cancelled choice or a file refused leaves it as it was.
void frmSerial::loadAndSend(bool verifyAlone) {
    if (!MSComm1->portOpen()) {
        messageBox_->show(QStringLiteral("The port is not open. Open it first, then start the "
                                         "download or the verify again."));
        return;
    }
    try {
        CommonDialog1->setFilter(QStringLiteral("HEX files (*.hex)|*.hex"));
        CommonDialog1->showOpen();
        const QString fileName = CommonDialog1->fileName();
        if (fileName.isEmpty() || CommonDialog1->cancelError()) {
            messageBox_->show(QStringLiteral("Cancel"));
            return;
        }
        // The port may have gone while the dialog was open.
        if (!MSComm1->portOpen()) {
            messageBox_->show(QStringLiteral("The port is not open any more. Open it, then start "
                                             "the download or the verify again."));
            return;
        }
        if (!job.running()) {
            vbalProgressBar1->setText(QStringLiteral("NO FILE"));
        }

        FirmwareText text =
            readFirmwareText(readFirmwareFile(fileName, kWindowFileLimit), FirmwareJob::kMaxLines);
        if (text.tooMany) {
            throw ControlError(kSubscriptOutOfRange, QStringLiteral("Subscript out of range"));
        }
        if (!text.fault.empty()) {
            messageBox_->show(
                QString::fromStdString(firmwareRefusal(fileName.toStdString(), text)) +
                    QStringLiteral(". Nothing was sent."),
                MsgStyle::Critical);
            return;
        }
        if (text.records.empty()) {
            messageBox_->show(
                QStringLiteral("%1 holds no records. Nothing was sent.").arg(fileName),
                MsgStyle::Critical);
            return;
        }
        job.load(std::move(text.records), verifyAlone);
        vbalProgressBar1->setMax(job.LineCount);
        vbalProgressBar1->setText(QStringLiteral("READY"));
        Command5->setEnabled(true);
        if (verifyAlone) {
            vbalProgressBar1->setText(QStringLiteral("VERIFY"));
        }
        startJob();
    } catch (const ControlError &error) {
        messageBox_->show(error.description(), MsgStyle::Critical,
                          QStringLiteral("Error#%1").arg(error.number()));
    }
}

void frmSerial::startJob() {
    std::optional<std::uint8_t> address;
    if (Check1->checkState() == Qt::Checked && !(address = modbusAddress())) {
        stopJob();
        return;
    }
    // What waits already answers what went before the job.
    collect(MSComm1->inBufferCount() > 0 ? MSComm1->input() : std::string());
    jobAlarm_.reset();
    runJob(job.start(address, clock_->now()));
}

} // namespace quenta
