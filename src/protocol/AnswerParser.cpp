#include "window/frmSerial.h"

#include "controls/VbColor.h"

namespace quenta {

void frmSerial::Com_Parser() {
    showAnswer(RxAnswer);
    const auto has = [this](std::string_view keyword) {
        return RxAnswer.find(keyword) != std::string::npos;
    };

    if (has("VER=")) {
        Timer3->setEnabled(false);
        Label2->setText(QStringLiteral("READY"));
        if (TransferRequested == 1 && FileLoaded == 1) {
            Command5_Click();
        }
    } else if (has("ERROR")) {
        vbalProgressBar1->setText(QStringLiteral("ERROR"));
        vbalProgressBar1->setBarColor(VbColor::Red);
        VerifyMode = 0;
    } else if (has("DOWNLOAD")) {
        // Outside a job the end of a pass means nothing: no line goes out.
        if (FileLoaded == 1) {
            if (VerifyMode == 1) {
                vbalProgressBar1->setText(QStringLiteral("END"));
                vbalProgressBar1->setBarColor(VbColor::Green);
                VerifyMode = 0;
                FileLoaded = 0;
            } else {
                vbalProgressBar1->setText(QStringLiteral("VERIFY"));
                VerifyMode = 1;
                LineIndex = 0;
                Command5_Click();
            }
        }
    } else if (has("FORMAT")) {
        vbalProgressBar1->setText(QString());
        vbalProgressBar1->setValue(0);
    } else if (has("OK")) {
        // An "OK" to a single command must not start writing the firmware again.
        if (FileLoaded == 1) {
            Command5_Click();
        }
    } else {
        return;
    }
    RxAnswer.clear();
}

} // namespace quenta
