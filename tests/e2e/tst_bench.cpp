// Whole jobs and what a real bench does to a line, through the real window and serial control
// against a simulated board on a pseudo-terminal. A job is judged by the board's memory.
#include "BoardBench.h"
#include "pure/Colors.h"

using namespace quenta;
using namespace quenta::testing;

Q_DECLARE_METATYPE(simboard::Faults)

const QString kSample = sourcePath("samples/blink.hex");

static simboard::Options board(const simboard::Faults &faults, bool modbus = false) {
    return {.boards = {{.modbus = modbus, .address = 5}}, .faults = faults};
}

// A path for the board's link, so that it can appear late and come back where it was.
const std::string kLink = QDir::tempPath().toStdString() + "/quenta-bench-" +
                          std::to_string(QCoreApplication::applicationPid());

class BenchTest : public QObject {
    Q_OBJECT
private slots:
    void job_data() {
        QTest::addColumn<bool>("modbus");
        QTest::addColumn<bool>("verifyAlone");
        QTest::addColumn<simboard::Faults>("faults");
        using F = simboard::Faults;
        QTest::newRow("plain") << false << false << F{};
        QTest::newRow("Modbus after the address search") << true << false << F{};
        QTest::newRow("verify alone on a blank board ends in ERROR") << false << true << F{};
        QTest::newRow("USB board appears after Open") << false << false << F{.appearAfterMs = 1000};
        QTest::newRow("answers trickle at 9600 baud") << false << false << F{.trickle = true};
        QTest::newRow("answers split across polls") << false << false << F{.splitAnswers = true};
        QTest::newRow("noise before answers, plain") << false << false << F{.garbageBefore = true};
        QTest::newRow("noise before answers, Modbus") << true << false << F{.garbageBefore = true};
    }

    void job() {
        QFETCH(bool, modbus);
        QFETCH(bool, verifyAlone);
        QFETCH(simboard::Faults, faults);
        const bool usb = faults.appearAfterMs > 0; // a USB port appears once the board is powered
        BoardBench b(board(faults, modbus), usb ? kLink : std::string());
        b->Check1->setChecked(modbus);
        b->Option4->setChecked(usb);
        b.connect();
        QCOMPARE(b->Text1->text(), modbus ? "5" : usb ? "16" : "1");
        QCOMPARE(b.board.commands(), std::vector<std::string>{"BOOTi\r\n"});
        b.runJob(kSample, verifyAlone);
        QCOMPARE(b->vbalProgressBar1->text(), verifyAlone ? "ERROR" : "END");
        QCOMPARE(b->vbalProgressBar1->barColor(), verifyAlone ? VbColor::Red : VbColor::Green);
        QCOMPARE(b.board.memory(), verifyAlone ? simboard::Memory{} : imageOf(kSample));
        const std::vector<std::string> sent = b.board.commands();
        b.waitPolls(10);
        QCOMPARE(b.board.commands(), sent);
    }

    // Frames with a wrong CRC cost only themselves; a board that stops answering can be closed.
    void corruptedFramesThenSilence() {
        BoardBench b(board({.corruptCrcEvery = 1}, true));
        b->Check1->setChecked(true);
        b->Text1->setText(QStringLiteral("5"));
        b->BTNOpenCom->click();
        QTRY_VERIFY_WITH_TIMEOUT(b.board.commands().size() >= 3, BoardBench::kConnectMs);
        QVERIFY(b->Label2->text().startsWith(QStringLiteral("WAIT Connect: ")));
        b.board.setFaults({});
        QTRY_COMPARE_WITH_TIMEOUT(b->Label2->text(), QStringLiteral("READY"),
                                  BoardBench::kConnectMs);
        b.runJob(kSample);
        QCOMPARE(b.board.memory(), imageOf(kSample));

        b.board.setFaults({.silent = true});
        b.w.chooser->answers = {kSample};
        b->Command3->click();
        QTRY_COMPARE(b.board.commands().back(), "BOOT:020000040000FA\r\n");
        QCOMPARE(b->job.LineIndex, 1);
        b->BTNCloseCom->click();
        QCOMPARE(glance(b.w), "Closed||NO FILE|Open box");
    }

    // The device goes away mid-transfer: the window closes the link, says why and takes no job
    // without a port; Open while it is away says what is wrong. Once it is back, Open works even
    // when a USB search had just taken the port, and Install and the version query reach the board.
    void cablePulledMidTransfer() {
        BoardBench b({}, kLink);
        b->Text1->setText(QStringLiteral("0"));
        b->BTNOpenCom->click();
        b.w.chooser->answers = {sourcePath("tests/data/lines-9000.hex"), kSample};
        b->Command3->click();
        QTRY_VERIFY_WITH_TIMEOUT(b->job.LineIndex >= 10, BoardBench::kJobMs);
        const QString device = QString::fromStdString(b.board.devicePath());
        const QString link = QString::fromStdString(b.board.path());
        b.board.vanish();
        QTRY_COMPARE_WITH_TIMEOUT(b->Label2->text(), "Not present board", BoardBench::kConnectMs);
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
        QTRY_COMPARE_WITH_TIMEOUT(b->Label2->text(), QStringLiteral("READY"),
                                  BoardBench::kConnectMs);
        const std::vector<std::string> all = b.board.commands();
        QCOMPARE(std::vector(all.end() - 2, all.end()),
                 (std::vector<std::string>{"BOOTg\r\n", "VER\r\n"}));
    }
};

QTEST_MAIN(BenchTest)
#include "tst_bench.moc"
