// The window's procedures against stand-in controls, driven one call at a time, and the window as
// the operator sees and handles it.
#include "Frames.h"
#include "StandIns.h"
#include "pure/Colors.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QFileDialog>
#include <QProcess>
#include <QScrollBar>
#include <QStringListModel>
#include <QStyleOption>
#include <QTest>

using namespace quenta;
using namespace quenta::testing;

const QString kNotAvailable =
    QStringLiteral(" Not available! Use Serial settings to setup your ports.");
const QString kData = QStringLiteral(QUENTA_SOURCE_DIR "/tests/window/data/");
const std::string kProbe = "BOOTi\r\n";
// The least blank, in pixels, between a label's text and the control after it.
constexpr int kBlank = 2;

// The room a caption's text takes in its widget's font: its advance, or its ink where that
// reaches further.
qreal textWidth(const QWidget *widget, const QString &text) {
    const QFontMetricsF metrics(widget->font());
    return std::max(metrics.horizontalAdvance(text), metrics.boundingRect(text).right());
}

class WindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir home_;

private slots:
    // The window's home is a folder of the test's own, so that what it writes there is seen.
    void initTestCase() {
        QVERIFY(home_.isValid());
        qputenv("HOME", QFile::encodeName(home_.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home_.filePath(".config")));
    }

    void startLayoutAndInput() {
        FakeWindow w;
        w->show();
        QApplication::setActiveWindow(w.window.get());
        QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
        QCOMPARE(glance(w), "No info||NO FILE|Open box");
        QCOMPARE(QApplication::focusWidget(), w->txt[0]);
        QVERIFY(w->Timer3->interval() == 200 && w->TMRComm->interval() == 30);
        QVERIFY(w->Option3->isChecked() && w->Pic->isVisible() &&
                w->Pic->fillColor() == VbColor::Yellow);
        // In pixels (twips / 15): the window, a bare option, the answer box and "Send" below sight.
        QCOMPARE(w->size(), QSize(397, 123));
        QCOMPARE(
            (QList<QRect>{w->Option2->geometry(), w->Text8->geometry(), w->Command5->geometry()}),
            (QList<QRect>{{168, 0, 13, 13}, {48, 94, 341, 19}, {120, 184, 57, 17}}));
        QCOMPARE(w->childAt(w->Text8->geometry().center()), w->Text8); // over the status frame
        QCOMPARE(w->Frame2->childAt(136, 6), w->Option1);              // not under "19200"
        QCOMPARE(w->Frame2->childAt(180, 6), w->Option2);              // not under "115200"

        // Tab enters the speed options on the selected one and leaves them in one step.
        w->BTNCloseCom->setEnabled(true);
        QStringList order;
        for (int key = 0; key < 14; ++key) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(order.join(' '),
                 "BTNOpenCom BTNCloseCom Command3 Command4 Command5 Command6 Text8 "
                 "Check1 Text1 Text2 Command1 Command2 Option3 txt");
        w->BTNCloseCom->setEnabled(false);
        QTest::keyClick(w->txt[0], Qt::Key_Return);
        QCOMPARE(glance(w), "Ready||NO FILE|Close Timer3 TMRComm port");
    }

    // A port text without a number fails with the described text alone; then the port opens at
    // the chosen speed and closes again.
    void openAndClose() {
        for (const auto &[portText, address, option, settings, command1, timers] :
             {std::tuple("COM3", "5", &frmSerial::Option3, "115200", "Set Addr", "Timer3 TMRComm"),
              std::tuple("XYZ3", "", &frmSerial::Option1, "9600", "Next", "Timer3 TMRComm"),
              std::tuple("COM3", "0", &frmSerial::Option2, "19200", "Set Addr", "TMRComm")}) {
            FakeWindow w;
            w->txt[0]->setText(QStringLiteral("COMx"));
            w->Timer3->setEnabled(true); // as while a USB search runs: the failure stops it
            w->BTNOpenCom->click();
            QCOMPARE(glance(w), "Not present board||NO FILE|Open box|COMx" + kNotAvailable);
            w.messages->shown.clear();
            w->txt[0]->setText(portText);
            w->Text1->setText(address);
            (w.window.get()->*option)->click();
            w->BTNOpenCom->click();
            QCOMPARE(glance(w), QStringLiteral("Ready||NO FILE|Close %1 port").arg(timers));
            QVERIFY(w.port->commPort == "3" &&
                    w.port->settingsLog.back() == settings + QStringLiteral(",n,8,1"));
            QVERIFY(w->Command1->text() == command1 &&
                    w->vbalProgressBar1->barColor() == VbColor::Navy);
            QVERIFY(!w->Pic->isHidden() && w->txt[0]->palette().color(QPalette::Base) == Qt::green);
            w->Text8->setText(QStringLiteral("VER=4.1"));
            w->BTNCloseCom->click();
            QCOMPARE(glance(w), "Closed||NO FILE|Open box");
            QVERIFY(w->Pic->isHidden() &&
                    w->txt[0]->palette().color(QPalette::Base) ==
                        QApplication::palette(w->txt[0]).color(QPalette::Base));
            w->SwitchTags();
            QCOMPARE(glance(w).section('|', 3, 3), "Close");
        }
    }

    void usbSearch() {
        for (const int appearsAt : {3, 199, 0}) { // the count whose open attempt finds the port
            FakeWindow w;
            w->Option4->click();
            w->Check1->setChecked(true);
            w->BTNOpenCom->click();
            QCOMPARE(glance(w), "WAIT Connect: ||NO FILE|Open box Timer3");
            QVERIFY(!w->Check1->isChecked() && w->Text1->text() == "16");
            for (int count = 2; count <= 200 && w->Timer3->enabled(); ++count) {
                w.port->available = {count == appearsAt ? "3" : "none"};
                w->Timer3_Timer();
            }
            if (appearsAt != 0) {
                QCOMPARE(glance(w), "Ready||NO FILE|Close TMRComm port");
                QVERIFY(w.sleeper->slept == std::vector{100} &&
                        w.port->written == std::vector{kProbe} && w->search.ScanPort == 1);
                continue;
            }
            QCOMPARE(glance(w), "Not present board||NO FILE|Open box|COM3" + kNotAvailable);
            QVERIFY(w.port->openAttempts == 198 && w->search.ScanPort == 200);
        }
    }

    // Commands on a port opened with address 1; then, opened again with an empty address box, the
    // address search.
    void commandsAndAddressSearch() {
        FakeWindow w;
        QCOMPARE(w->WriteCOM32(kProbe), 0);
        w->Text1->setText(QStringLiteral("1"));
        w->BTNOpenCom->click();
        QCOMPARE(w->WriteCOM32(kProbe), 7);
        w->Check1->setChecked(true);
        QCOMPARE(w->WriteCOM32(kProbe), 10);
        w->Text1->clear();
        w->Command6->click();
        w->Text1->setText(QStringLiteral("five"));
        QCOMPARE(w->WriteCOM32(kProbe), 0);
        QCOMPARE(w->Text8->text(), "Nothing sent: the device address \"five\" is no number.");
        w->Text1->setText(QStringLiteral("7"));
        w->Timer3_Timer(); // a probe to the address given
        for (const char *address : {"257", "-1"}) {
            w->Text2->setText(address);
            w->Command1->click();
            QCOMPARE(w->Text8->text(),
                     QStringLiteral("Nothing sent: a bus address lies in 0 to 255, not %1.")
                         .arg(address));
        }
        w->Text2->setText(QStringLiteral("10"));
        w->Command1->click();
        QCOMPARE(w.port->written,
                 (std::vector{hexBytes("42 4F 4F 54 69 0D 0A"),
                              hexBytes("01 42 4F 4F 54 69 0D 0A FC 89"),
                              commandFrame(0, "BOOTg\r\n"), commandFrame(0, "VER\r\n"),
                              commandFrame(7, kProbe), commandFrame(7, "BOOT$0A\r\n")}));
        QCOMPARE(w.sleeper->slept, std::vector{1000});
        for (int tick = 1; tick <= 20; ++tick) { // green after a send, then white and grey in turn
            QCOMPARE(w->Pic->fillColor(), tick <= 10 ? VbColor::DarkGreen : VbColor::White);
            w->TMRComm_Timer();
        }
        QCOMPARE(w->Pic->fillColor(), VbColor::Grey);
        w.port->incoming = answerFrame(7, "FORMAT\r\n");
        w->TMRComm_Timer();
        QCOMPARE(w->Pic->fillColor(), VbColor::Red);

        w->BTNCloseCom->click();
        w->Text1->clear();
        w->BTNOpenCom->click();
        w.port->written.clear();
        w->Timer3_Timer();
        w->Timer3_Timer();
        QCOMPARE(w.port->written, (std::vector{commandFrame(1, kProbe), commandFrame(2, kProbe)}));
        QVERIFY(w->Text1->text() == "2" && w->Label2->text() == "WAIT Connect: 2");
        // Board 1 answers after probe 2 left, in a frame without CR LF: the next poll that reads
        // nothing takes it.
        w.port->incoming = answerFrame(1, "VER=4.1");
        w->TMRComm_Timer();
        QCOMPARE(w->Label2->text(), "WAIT Connect: 2");
        w->TMRComm_Timer();
        QCOMPARE(glance(w), "READY|VER=4.1|NO FILE|Close TMRComm port");
        QVERIFY(w->Text1->text() == "1" && w->search.ScanPort == 2);
        const std::string stray = answerFrame(9, "OK\r\n"); // no board 9 was asked
        w.port->incoming = stray;
        w->TMRComm_Timer();
        QCOMPARE(w->Text8->text(), "Error ADDR  >> " + QString::fromLatin1(qbytes(stray)));
        w->Command1->click(); // "Next" goes on at 2, up to the last address
        QVERIFY(w->Text8->text().isEmpty());
        while (w->Timer3->enabled() && w.port->written.size() < 200) {
            w->Timer3_Timer();
        }
        QVERIFY(w.port->written.size() == 128 && w->search.ScanPort == 1);
        QCOMPARE(w.port->written.back(), commandFrame(127, kProbe));
        QCOMPARE(glance(w), "Not present board||NO FILE|Close TMRComm port|COM3 Not connect !");
        QVERIFY(w->close() && !w->MSComm1->portOpen());
    }

    // The three-record job, paced by the board's answers as the answer timer reads them. On the
    // way a choice is cancelled and a text file refused: neither changes the running pass. Then a
    // verify whose pass meets the answer to "?", four more files refused, and closing the window
    // on a download under way, which closes the port and asks nothing.
    void job() {
        FakeWindow w;
        w->Text1->setText(QStringLiteral("0")); // nothing probes
        w->BTNOpenCom->click();
        for (const char *file : {"job", "", "notes", "job", "checksum", "cut", "blank",
                                 "../../data/lines-9001", "job"}) {
            w.chooser->answers.push_back(*file != 0 ? kData + file + ".hex" : QString());
        }
        const QHash<QString, QPushButton *> buttons = {
            {"Download", w->Command3}, {"Verify", w->Command2}, {"?", w->Command4}};
        const char *const steps[][3] = {
            // a button, a read of the answer timer, or "quiet" polls; the line sent; the bar after
            {"Download", "BOOT:020000040000FA\r\n", "DOWNLOAD 1"},
            {"OK\r\n", "BOOT:0100000055AA\r\n", "DOWNLOAD 2"},
            {"OK\r\n", "BOOT:00000001FF\r\n", "DOWNLOAD 3"},
            {"DOWNLOAD\r\n", "BOOT#020000040000FA\r\n", "VERIFY 1"},
            {"Download", "", "VERIFY 1"}, // cancelled
            {"Download", "", "VERIFY 1"}, // a text file
            {"OK\r\n", "BOOT#0100000055AA\r\n", "VERIFY 2"},
            {"OK\r\n", "BOOT#00000001FF\r\n", "VERIFY 3"},
            {"DOWNLOAD", "", "VERIFY 3"}, // without its line end: a quiet poll takes it
            {"quiet", "", "END 3"},
            {"Verify", "BOOT#020000040000FA\r\n", "VERIFY 1"},
            {"?", "BOOTi\r\n", "VERIFY 1"},
            {"OK\r\n", "BOOT#0100000055AA\r\n", "VERIFY 2"},
            {"VER=4.1\r\n", "", "ERROR 2"}, // the answer to "?" answers no line
            {"Download", "", "NO FILE 2"},  // a wrong checksum
            {"Download", "", "NO FILE 2"},  // no end record
            {"Download", "", "NO FILE 2"},  // blank lines only
            {"Download", "", "NO FILE 2"},  // too many lines
        };
        QStringList colours;
        for (const auto &[event, sent, bar] : steps) {
            const std::size_t before = w.port->written.size();
            if (buttons.contains(event)) {
                buttons[event]->click();
            }
            for (int poll = 0; poll < (QByteArray(event) == "quiet" ? 10 : 1); ++poll) {
                if (!buttons.contains(event) && QByteArray(event) != "quiet") {
                    w.port->incoming = event;
                }
                w.clock->us += 30000;
                w->TMRComm_Timer();
            }
            QCOMPARE(std::vector(w.port->written.begin() + before, w.port->written.end()),
                     *sent != 0 ? std::vector<std::string>{sent} : std::vector<std::string>{});
            QCOMPARE(w->vbalProgressBar1->text() + " " +
                         QString::number(w->vbalProgressBar1->value()),
                     bar);
            colours << QString::number(w->vbalProgressBar1->barColor(), 16);
        }
        QCOMPARE(colours.join(' '), "800000 800000 800000 800000 800000 800000 800000 800000 "
                                    "800000 ff00 ff00 ff00 ff00 ff ff ff ff ff");
        QCOMPARE(w.chooser->filter, QStringLiteral("HEX files (*.hex)|*.hex"));
        QCOMPARE(
            glance(w).remove(kData),
            "READY|an answer that fits no line came while line 2 was out (\"VER=4.1\"): verify "
            "again|NO FILE|Close TMRComm port|Cancel|notes.hex is not an Intel HEX file: line 1 "
            "does not start with ':'. Nothing was sent.|checksum.hex is not an Intel HEX file: "
            "line 1 has the checksum AB where AA is due. Nothing was sent.|cut.hex is not an Intel "
            "HEX file: the file ends at line 2 without an end record (:00000001FF). Nothing was "
            "sent.|blank.hex holds no records. Nothing was sent.|Subscript out of range");
        QVERIFY(w.messages->shown[5].title == "Error#9" && w.messages->shown[5].style == 16);
        QCOMPARE(w->Text8->cursorPosition(), 0); // a text longer than the box shows its start
        w->Command3->click();
        QVERIFY(w->close() && !w->MSComm1->portOpen() && w.messages->shown.size() == 6);
    }

    // The port lost while the file dialog is open: the window says so when the choice is made,
    // and no job starts.
    void portLostDuringTheDialog() {
        FakeWindow w;
        w->Text1->setText(QStringLiteral("0"));
        w->BTNOpenCom->click();
        w.chooser->answers.push_back(kData + "job.hex");
        w.chooser->whileOpen = [&] {
            w.port->lost = QStringLiteral("/dev/ttyUSB0 went away.");
            w->TMRComm_Timer();
        };
        w->Command3->click();
        QCOMPARE(glance(w),
                 "Not present board|Port lost: /dev/ttyUSB0 went away.|NO FILE|Open box|The port "
                 "is not open any more. Open it, then start the download or the verify again.");
        QVERIFY(w.port->written.empty() && w->vbalProgressBar1->value() == 0);
    }

    // The real file dialog chooses a file and leaves nothing in the home folder: no history, no
    // settings.
    void fileDialogWritesNothing() {
        QtFileChooser chooser(nullptr);
        chooser.setFilter(QStringLiteral("HEX files (*.hex)|*.hex"));
        // The dialog takes a chosen name into its name box only while the box has no focus.
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                if (auto *dialog = qobject_cast<QFileDialog *>(widget);
                    dialog && dialog->isVisible()) {
                    if (QWidget *focused = dialog->focusWidget()) {
                        focused->clearFocus();
                    }
                    dialog->selectFile(kData + "job.hex");
                    QMetaObject::invokeMethod(dialog, &QDialog::accept);
                }
            }
        });
        answer.start(10);
        chooser.showOpen();
        QCOMPARE(chooser.fileName(), kData + "job.hex");
        QCOMPARE(
            QDir(home_.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList());
    }

    // The address search's addresses count only while it runs and until a board answered it:
    // after three probes, a read with the answers of boards 2 and 1, or of board 1 after Close
    // and Open, or once the search gave up.
    void searchAnswers() {
        const QByteArray two = qbytes(answerFrame(2, "VER=2\r\n"));
        const QByteArray one = qbytes(answerFrame(1, "VER=1\r\n"));
        for (const auto &[between, read, address] :
             {std::tuple("", two + one, "2"), std::tuple("reopen 7", one, "7"),
              std::tuple("give up", one, "127")}) {
            FakeWindow w;
            w->Check1->setChecked(true);
            w->BTNOpenCom->click(); // an empty address box: the search
            for (int probe = 0; probe < 3; ++probe) {
                w->Timer3_Timer();
            }
            if (QByteArray(between) == "reopen 7") {
                w->BTNCloseCom->click();
                w->Text1->setText(QStringLiteral("7"));
                w->BTNOpenCom->click();
            }
            while (QByteArray(between) == "give up" && w->Timer3->enabled()) {
                w->Timer3_Timer();
            }
            w.port->incoming = read.toStdString();
            w->TMRComm_Timer();
            QCOMPARE(w->Text1->text(), address);
            QCOMPARE(w->Text8->text().toLatin1(), "Error ADDR  >> " + read);
        }
    }

    // The port suggestions open as wide as their longest entry, within the screen, whatever list
    // the box was given last; a click beside them closes them and does what it points at.
    void portListWidth() {
        FakeWindow w;
        w->show();
        QApplication::setActiveWindow(w.window.get());
        QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
        QCompleter *ports = w->txt[0]->completer();
        auto *entries = qobject_cast<QStringListModel *>(ports->model());
        QAbstractItemView *list = ports->popup();
        const QRect screen = w->screen()->availableGeometry();
        const QString byId =
            QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
        const QString endless = QStringLiteral("/dev/serial/by-id/") + QString(300, 'x');
        const auto open = [&](const QStringList &given) {
            list->hide();
            entries->setStringList(given);
            ports->complete();
            return QTest::qWaitFor([&] { return list->isVisible(); });
        };
        // Every entry shows whole.
        const auto whole = [&] { return list->sizeHintForColumn(0) <= list->viewport()->width(); };

        QVERIFY(open({"/dev/ttyS0", byId, "/dev/ttyUSB0"}));
        QVERIFY(list->width() > 57 && whole() && screen.contains(list->geometry()));
        QStringList many; // more than the list shows at once: a scroll bar beside them
        for (int port = 0; port < 12; ++port) {
            many << byId.left(40 + port);
        }
        QVERIFY(open(many));
        QVERIFY(list->verticalScrollBar()->isVisible() && whole());
        QVERIFY(open({"COM1", "COM12"})); // short entries: as wide as the box (855 twips)
        QCOMPARE(list->width(), 57);
        QVERIFY(open({endless, "COM3"})); // wider than the screen: as wide as the screen
        QCOMPARE(list->width(), screen.width());
        QVERIFY(screen.contains(list->geometry()));

        // The window at the screen's right edge: the list moves left to stay on the screen.
        w->move(screen.right() + 1 - w->frameGeometry().width(), screen.top() + 100);
        QTRY_COMPARE(w->frameGeometry().right(), screen.right());
        QVERIFY(open({"/dev/ttyS0", byId}));
        QVERIFY(list->width() > 57 && whole() && screen.contains(list->geometry()));

        // A click beside the list closes it and does what it points at.
        const QPoint press = w->BTNOpenCom->mapTo(w.window.get(), w->BTNOpenCom->rect().center());
        QTest::mousePress(w->windowHandle(), Qt::LeftButton, {}, press);
        QTest::mouseRelease(w->windowHandle(), Qt::LeftButton, {}, press);
        QVERIFY(!list->isVisible() && w.port->portOpen());
    }

    // A click on a speed's name chooses the option button after it, as a click on the button
    // does; nothing else happens until Open reads the choice.
    void speedLabelsChooseTheirOption() {
        FakeWindow w;
        w->show();
        QApplication::setActiveWindow(w.window.get());
        QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
        for (const auto &[label, option] :
             {std::pair(w->Label8, w->Option4), std::pair(w->Label4, w->Option1),
              std::pair(w->Label7, w->Option3), std::pair(w->Label6, w->Option2)}) {
            QCOMPARE(label->focusPolicy(), Qt::NoFocus);
            // On the middle of the name, through the window as the mouse does.
            const QPoint name(QFontMetrics(label->font()).horizontalAdvance(label->text()) / 2,
                              label->height() / 2);
            QTest::mouseClick(w->windowHandle(), Qt::LeftButton, {},
                              label->mapTo(w.window.get(), name));
            // Chosen, and the focus with it, as a click on the button gives it.
            QVERIFY(option->isChecked() && QApplication::focusWidget() == option);
            QCOMPARE(glance(w), "No info||NO FILE|Open box");
            QVERIFY(w.port->settingsLog.isEmpty());
        }
        w->BTNOpenCom->click();
        QCOMPARE(w.port->settingsLog, QStringList{"19200,n,8,1"});
    }

    // No caption runs into the control after it: a label's text ends within its box and a blank
    // before the next control in its row, a button's caption within its bevel, a frame's title a
    // blank before what stands beside it; the bare option buttons and check box show none. Measured
    // at this scale and, from scale 1, again at scale 2 (192 dots per inch) by a second run.
    void captionsFitTheirBoxes() {
        FakeWindow w;
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        QCOMPARE(w->devicePixelRatio(), qEnvironmentVariable("QT_SCALE_FACTOR", "1").toDouble());
        QStringList overruns;
        // The room from `row`'s left (in the window) to `end`, and to a blank before the first
        // control to its right that its middle line meets.
        const auto room = [&](QRect row, int end) {
            for (const QWidget *other : w->findChildren<QWidget *>()) {
                const QRect place(other->mapTo(w.window.get(), QPoint()), other->size());
                if (other->isVisible() && !qobject_cast<const QGroupBox *>(other) &&
                    place.left() > row.left() && place.contains(place.left(), row.center().y())) {
                    end = std::min(end, place.left() - kBlank);
                }
            }
            return end - row.left();
        };
        const auto fits = [&](const QWidget *widget, const QString &text, int room) {
            if (textWidth(widget, text) > room) {
                overruns << QStringLiteral("%1 \"%2\": %3 px where %4 are free")
                                .arg(widget->objectName(), text)
                                .arg(textWidth(widget, text))
                                .arg(room);
            }
        };
        const auto allFit = [&] {
            for (const QLabel *label : w->findChildren<QLabel *>()) {
                const QRect box(label->mapTo(w.window.get(), QPoint()), label->size());
                fits(label, label->text(), room(box, box.right() + 1));
            }
            for (const QPushButton *button : w->findChildren<QPushButton *>()) {
                QStyleOptionButton option;
                option.initFrom(button);
                fits(button, button->text(),
                     button->style()
                         ->subElementRect(QStyle::SE_PushButtonContents, &option, button)
                         .width());
            }
            for (const QGroupBox *frame : w->findChildren<QGroupBox *>()) {
                QStyleOptionGroupBox option;
                option.initFrom(frame);
                option.text = frame->title();
                option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
                const QRect title = frame->style()
                                        ->subControlRect(QStyle::CC_GroupBox, &option,
                                                         QStyle::SC_GroupBoxLabel, frame)
                                        .translated(frame->mapTo(w.window.get(), QPoint()));
                fits(frame, frame->title(), room(title, w->width() - kBlank));
            }
        };
        allFit();
        // The status line's other texts, and the address button's other caption.
        for (const char *status : {"WAIT Connect: 200", "Not present board", "No info: "}) {
            w->Label2->setText(status);
            allFit();
        }
        w->Command1->setText(QStringLiteral("Next"));
        allFit();
        overruns.removeDuplicates();
        QVERIFY2(overruns.isEmpty(), qPrintable(overruns.join("; ")));
        const auto bare = [](QAbstractButton *button, QStyle::SubElement contents) {
            QStyleOptionButton option;
            option.initFrom(button);
            return button->style()->subElementRect(contents, &option, button).left() >=
                   button->width();
        };
        for (QRadioButton *option : w->findChildren<QRadioButton *>()) {
            QVERIFY(bare(option, QStyle::SE_RadioButtonContents));
        }
        QVERIFY(bare(w->Check1, QStyle::SE_CheckBoxContents));

        if (w->devicePixelRatio() == 1) {
            QProcess scaled;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("2"));
            scaled.setProcessEnvironment(environment);
            scaled.setProcessChannelMode(QProcess::MergedChannels);
            scaled.start(QCoreApplication::applicationFilePath(),
                         {QStringLiteral("captionsFitTheirBoxes")});
            QVERIFY(scaled.waitForFinished(60000));
            const QByteArray report = scaled.readAll();
            QVERIFY2(scaled.exitStatus() == QProcess::NormalExit && scaled.exitCode() == 0 &&
                         report.contains("PASS   : WindowTest::captionsFitTheirBoxes()"),
                     report.constData());
        }
    }
};

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
