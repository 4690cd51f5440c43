#include "window/frmSerial.h"

#include "transfer/CommandLines.h"

namespace quenta {

void frmSerial::Command5_Click() {
    // Nothing is sent before a file has been loaded.
    if (LineCount < 1) {
        return;
    }
    if (VerifyMode != 1) {
        vbalProgressBar1->setText(QStringLiteral("DOWNLOAD"));
    }
    if (LineIndex < 0 || LineIndex >= LineCount) {
        LineIndex = 0;
    }
    ++LineIndex;
    const std::string &entry = HexLines[static_cast<std::size_t>(LineIndex)];
    WriteCOM32(VerifyMode == 1 ? verifyLine(entry) : downloadLine(entry));
    vbalProgressBar1->setValue(LineIndex);
    if (LineIndex == LineCount) {
        LineIndex = 0;
    }
}

} // namespace quenta
