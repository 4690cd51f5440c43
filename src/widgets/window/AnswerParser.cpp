#include "widgets/window/frmSerial.h"

#include "pure/Answers.h"

namespace quenta {

void frmSerial::Com_Parser() {
    showAnswer(RxAnswer);
    const AnswerEffects effects = job.answer(RxAnswer);
    if (effects.stopProbing) {
        Timer3->setEnabled(false);
    }
    if (effects.status) {
        Label2->setText(QString::fromStdString(*effects.status));
    }
    showBar(effects);
    if (effects.sendNextLine) {
        Command5_Click();
    }
    if (findKeyword(RxAnswer) != Keyword::None) {
        RxAnswer.clear();
    }
}

void frmSerial::showBar(const AnswerEffects &effects) {
    if (effects.barText) {
        vbalProgressBar1->setText(QString::fromStdString(*effects.barText));
    }
    if (effects.barColor) {
        vbalProgressBar1->setBarColor(*effects.barColor);
    }
    if (effects.barValue) {
        vbalProgressBar1->setValue(*effects.barValue);
    }
}

} // namespace quenta
