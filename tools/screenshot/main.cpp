// quenta-screenshot BOARD FIRMWARE PICTURE: opens the window on the board's port, downloads and
// verifies the firmware, and saves a picture of the window once the bar reads END. Any message
// box, or a step that does not finish in time, ends it with an error.

#include "widgets/window/frmSerial.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QPixmap>
#include <QTextStream>

#include <cstdlib>
#include <functional>

namespace {

constexpr int kConnectMs = 15000;
constexpr int kJobMs = 60000;

// Picks the one firmware file given.
class GivenFile : public quenta::FileChooser {
public:
    explicit GivenFile(QString path) : path_(std::move(path)) {}
    void setFilter(const QString &) override {}
    void showOpen() override { chosen_ = path_; }
    QString fileName() const override { return chosen_; }
    bool cancelError() const override { return false; }

private:
    QString path_;
    QString chosen_;
};

[[noreturn]] void fail(const QString &why) {
    QTextStream(stderr) << "quenta-screenshot: " << why << '\n';
    std::exit(1);
}

// A message box means the run went wrong: say what it said and stop.
class FailingMessageBox : public quenta::MessageBox {
public:
    void show(const QString &prompt, int, const QString &) override {
        fail(QStringLiteral("the window showed a message: ") + prompt);
    }
};

// As the operator's mouse does: the button takes the focus, then acts.
void press(QPushButton *button) {
    button->setFocus(Qt::MouseFocusReason);
    button->click();
}

void await(const quenta::frmSerial &window, const QString &what, int ms,
           const std::function<bool()> &done) {
    const QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired()) {
            fail(QStringLiteral("no %1 within %2 s (status '%3', bar '%4')")
                     .arg(what)
                     .arg(ms / 1000)
                     .arg(window.Label2->text(), window.vbalProgressBar1->text()));
        }
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
}

} // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quenta"));
    const QStringList args = QApplication::arguments();
    if (args.size() != 4) {
        fail(QStringLiteral("usage: quenta-screenshot BOARD FIRMWARE PICTURE"));
    }
    const QString &board = args[1];
    const QString &firmware = args[2];
    const QString &picture = args[3];

    quenta::Hosted hosted;
    hosted.fileChooser = std::make_unique<GivenFile>(firmware);
    hosted.messageBox = std::make_unique<FailingMessageBox>();
    quenta::frmSerial window(std::move(hosted));
    window.show();

    window.txt[0]->setText(board);
    press(window.BTNOpenCom);
    await(window, QStringLiteral("READY"), kConnectMs,
          [&] { return window.Label2->text() == QStringLiteral("READY"); });
    press(window.Command3);
    await(window, QStringLiteral("END"), kJobMs,
          [&] { return window.vbalProgressBar1->text() == QStringLiteral("END"); });

    if (!window.grab().save(picture, "PNG")) {
        fail(QStringLiteral("cannot write ") + picture);
    }
    QTextStream(stdout) << "Saved " << picture << '\n';
    window.BTNCloseCom->click();
    return 0;
}
