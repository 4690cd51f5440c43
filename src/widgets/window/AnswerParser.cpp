#include "widgets/window/frmSerial.h"

#include "pure/Answers.h"
#include "widgets/controls/VbColor.h"

namespace quenta {

// Shows an answer and what it says about the board. The firmware job judges the same answers by
// itself (runJob).
void frmSerial::Com_Parser() {
    showAnswer(RxAnswer);
    const Keyword keyword = findKeyword(RxAnswer);
    switch (keyword) {
    case Keyword::Version:
        Timer3->setEnabled(false);
        Label2->setText(QStringLiteral("READY"));
        break;
    case Keyword::Error:
        vbalProgressBar1->setText(QStringLiteral("ERROR"));
        vbalProgressBar1->setBarColor(VbColor::Red);
        break;
    case Keyword::Format:
        vbalProgressBar1->setText(QString());
        vbalProgressBar1->setValue(0);
        break;
    case Keyword::Download:
    case Keyword::Ok:
    case Keyword::None:
        break;
    }
    if (keyword != Keyword::None) {
        RxAnswer.clear();
    }
}

void frmSerial::runJob(const JobView &view) {
    sendJobLines(view);
    showJob(view);
}

void frmSerial::sendJobLines(const JobView &view) {
    for (const std::string &line : view.lines) {
        lineDue_ = line;
        Command5_Click();
    }
}

void frmSerial::showJob(const JobView &view) {
    if (view.barText) {
        vbalProgressBar1->setText(QString::fromStdString(*view.barText));
    }
    if (view.barValue) {
        vbalProgressBar1->setValue(*view.barValue);
    }
    if (view.barColor) {
        vbalProgressBar1->setBarColor(*view.barColor);
    }
    if (view.answerBox) {
        showAnswer(*view.answerBox);
    }
    if (view.timerMs) {
        jobAlarm_.reset();
        if (*view.timerMs > 0) {
            jobAlarm_ = clock_->now() + std::int64_t{*view.timerMs} * 1000;
        }
    }
}

} // namespace quenta
