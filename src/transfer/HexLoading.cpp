#include "window/frmSerial.h"

#include "controls/ControlError.h"
#include "transfer/HexFile.h"

namespace quenta {

void frmSerial::Command3_Click() {
    loadAndSend(0);
}

void frmSerial::Command2_Click() {
    loadAndSend(1);
}

void frmSerial::loadAndSend(std::int16_t verifyMode) {
    VerifyMode = verifyMode;
    TransferRequested = 1;
    try {
        CommonDialog1->setFilter(QStringLiteral("HEX files (*.hex)|*.hex"));
        CommonDialog1->showOpen();
        const QString fileName = CommonDialog1->fileName();
        if (fileName.isEmpty() || CommonDialog1->cancelError()) {
            messageBox_->show(QStringLiteral("Cancel"));
            return;
        }
        vbalProgressBar1->setText(QStringLiteral("NO FILE"));

        // The table in use is replaced only by a file that was read whole.
        const std::vector<std::string> items = readHexFile(fileName, kMaxLines);
        if (items.empty()) {
            messageBox_->show(QStringLiteral("The file holds no lines: nothing to send."),
                              MsgStyle::Critical);
            return;
        }
        for (std::size_t i = 0; i < items.size(); ++i) {
            HexLines[i + 1] = items[i];
        }
        LineCount = static_cast<std::int16_t>(items.size());
        vbalProgressBar1->setMax(LineCount);
        vbalProgressBar1->setText(QStringLiteral("READY"));
        LineIndex = 0;
        Command5->setEnabled(true);
        FileLoaded = 1;
        if (verifyMode == 1) {
            vbalProgressBar1->setText(QStringLiteral("VERIFY"));
            VerifyMode = 1;
        }
        Command5_Click();
    } catch (const ControlError &error) {
        messageBox_->show(error.description(), MsgStyle::Critical,
                          QStringLiteral("Error#%1").arg(error.number()));
    }
}

} // namespace quenta
