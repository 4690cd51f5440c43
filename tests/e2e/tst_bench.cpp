// Whole jobs and what a real bench does to a line, through the real window with its real serial
// control and timers against a simulated board on a pseudo-terminal. Only the file chooser, the
// message boxes and the sleep are stand-ins, so that no modal dialog ever opens. A job is judged
// by the board's memory.
#include "BoardImage.h"
#include "StandIns.h"
#include "pure/Colors.h"
#include "simboard/PtyBoard.h"

#include <QSignalSpy>
#include <QTest>

using namespace quenta;
using namespace quenta::testing;

const QString kSample = sourcePath("samples/blink.hex");
constexpr int kConnectMs = 10000;
constexpr int kJobMs = 60000;

// A path for the board's link, so that it can appear late and come back where it was.
const std::string kLink = QDir::tempPath().toStdString() + "/quenta-bench-" +
                          std::to_string(QCoreApplication::applicationPid());

// The window on the board's port.
struct Bench {
    explicit Bench(simboard::Options options, std::string link)
        : board(std::move(options), std::move(link)), w(true) {
        board.start();
        w->txt[0]->setText(QString::fromStdString(board.path()));
    }
    frmSerial *operator->() const { return w.window.get(); }

    simboard::PtyBoard board;
    FakeWindow w;
};

class BenchTest : public QObject {
    Q_OBJECT
private slots:
    void job_data() {
        QTest::addColumn<bool>("modbus");
        QTest::addColumn<bool>("verifyAlone");
        QTest::addColumn<bool>("usb"); // the port appears once the board is powered, after Open
        QTest::newRow("plain") << false << false << false;
        QTest::newRow("Modbus after the address search") << true << false << false;
        QTest::newRow("verify alone on a blank board ends in ERROR") << false << true << false;
        QTest::newRow("USB board appears after Open") << false << false << true;
    }

    void job() {
        QFETCH(bool, modbus);
        QFETCH(bool, verifyAlone);
        QFETCH(bool, usb);
        simboard::Options options{.boards = {{.modbus = modbus, .address = 5}}};
        options.faults.appearAfterMs = usb ? 1000 : 0;
        Bench b(options, usb ? kLink : std::string());
        b->Check1->setChecked(modbus);
        b->Option4->setChecked(usb);
        b->BTNOpenCom->click();
        QTRY_COMPARE_WITH_TIMEOUT(b->Label2->text(), QStringLiteral("READY"), kConnectMs);
        QCOMPARE(b->Text1->text(), modbus ? "5" : usb ? "16" : "1");
        QCOMPARE(b.board.commands(), std::vector<std::string>{"BOOTi\r\n"});
        b.w.chooser->answers.push_back(kSample);
        (verifyAlone ? b->Command2 : b->Command3)->click();
        QTRY_VERIFY_WITH_TIMEOUT(b->vbalProgressBar1->text() == QStringLiteral("END") ||
                                     b->vbalProgressBar1->text() == QStringLiteral("ERROR"),
                                 kJobMs);
        QCOMPARE(b->vbalProgressBar1->text(), verifyAlone ? "ERROR" : "END");
        QCOMPARE(b->vbalProgressBar1->barColor(), verifyAlone ? VbColor::Red : VbColor::Green);
        QCOMPARE(b.board.memory(), verifyAlone ? simboard::Memory{} : imageOf(kSample));
        const std::vector<std::string> sent = b.board.commands();
        QSignalSpy polls(b->TMRComm, &QTimer::timeout); // long enough for anything on its way
        QTRY_VERIFY_WITH_TIMEOUT(polls.count() >= 10, kConnectMs);
        QCOMPARE(b.board.commands(), sent);
    }

    // The device goes away mid-transfer: the window closes the link, says why and takes no job
    // without a port; Open while it is away says what is wrong. Once it is back, Open works even
    // when a USB search had just taken the port, and Install and the version query reach the board.
    void cablePulledMidTransfer() {
        Bench b({}, kLink);
        b->Text1->setText(QStringLiteral("0"));
        b->BTNOpenCom->click();
        b.w.chooser->answers = {sourcePath("tests/data/lines-9000.hex"), kSample};
        b->Command3->click();
        QTRY_VERIFY_WITH_TIMEOUT(b->job.LineIndex >= 10, kJobMs);
        const QString device = QString::fromStdString(b.board.devicePath());
        const QString link = QString::fromStdString(b.board.path());
        b.board.vanish();
        QTRY_COMPARE_WITH_TIMEOUT(b->Label2->text(), "Not present board", kConnectMs);
        QCOMPARE(glance(b.w).section('|', 2), "ERROR|Open box");
        QCOMPARE(b->vbalProgressBar1->barColor(), VbColor::Red);
        QCOMPARE(b->Text8->text(), "Port lost: " + device + " went away.");
        b->Command3->click();
        b->BTNOpenCom->click();
        QCOMPARE(
            glance(b.w).section('|', 4),
            "The port is not open. Open it first, then start the download or the verify again.|" +
                link + " Not available! Use Serial settings to setup your ports.");

        b.board.reappear();
        b->Option4->click();
        b->BTNOpenCom->click();
        b->Timer3_Timer(); // the search opens the port; its next tick would take it into use
        QVERIFY(b->MSComm1->portOpen());
        b->Option3->click();
        b->Text1->setText(QStringLiteral("0"));
        b->BTNOpenCom->click();
        QCOMPARE(glance(b.w).section('|', 3, 3), "Close TMRComm port");
        b->Command6->click();
        QTRY_COMPARE_WITH_TIMEOUT(b->Label2->text(), QStringLiteral("READY"), kConnectMs);
        const std::vector<std::string> all = b.board.commands();
        QCOMPARE(std::vector(all.end() - 2, all.end()),
                 (std::vector<std::string>{"BOOTg\r\n", "VER\r\n"}));
    }
};

QTEST_MAIN(BenchTest)
#include "tst_bench.moc"
