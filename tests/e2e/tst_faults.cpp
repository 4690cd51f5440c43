// What a real bench does to a line: a cable pulled mid-transfer, a board that answers slowly, in
// pieces or with noise, a corrupted frame, a board that never answers. Each case ends with the
// program responsive.
#include "BoardBench.h"
#include "controls/VbColor.h"
#include "link/ModbusFrame.h"

#include <QtTest>

using namespace quenta;
using namespace quenta::testing;

namespace {

constexpr int kConnectMs = 10000;
constexpr int kJobMs = 30000;

simboard::Options withFaults(const simboard::Faults &faults, bool modbus = false) {
    simboard::Options options;
    options.faults = faults;
    options.bootloader.modbus = modbus;
    return options;
}

QString linkPath(const char *name) {
    return QDir::temp().filePath(QStringLiteral("quenta-%1-%2")
                                     .arg(QLatin1String(name))
                                     .arg(QCoreApplication::applicationPid()));
}

// Opens if needed, waits for the bootloader, then downloads and verifies the sample.
void runJob(BoardBench &b) {
    if (!b->MSComm1->portOpen()) {
        b->BTNOpenCom->click();
    }
    QTRY_COMPARE_WITH_TIMEOUT(b->Label2->text(), QStringLiteral("READY"), kConnectMs);
    downloadAndVerifySample(b);
}

} // namespace

class FaultTest : public QObject {
    Q_OBJECT
private slots:
    void cablePulledMidTransfer();
    void answersTrickleAt9600Baud();
    void answersSplitAcrossPolls();
    void noiseBetweenAnswers_data();
    void noiseBetweenAnswers();
    void corruptedFramesCostOnlyThemselves();
    void silentBoardCanBeClosed();
};

void FaultTest::cablePulledMidTransfer() {
    BoardBench b({}, linkPath("pulled").toStdString());
    b->Text1->setText(QStringLiteral("0"));
    b->BTNOpenCom->click();
    QVERIFY(b->MSComm1->portOpen());
    b.chooser->answers.push_back(sourcePath("tests/data/lines-9000.hex"));
    b->Command3->click();
    QTRY_VERIFY_WITH_TIMEOUT(b->LineIndex >= 10, kJobMs);

    b.board.vanish();
    QTRY_VERIFY_WITH_TIMEOUT(!b->MSComm1->portOpen(), kConnectMs);
    // Still polling and painting: the window goes on as before, only nothing reaches the board.
    const int index = b->LineIndex;
    QTest::qWait(200);
    QCOMPARE(b->LineIndex, index);
    QVERIFY(b->BTNCloseCom->isEnabled());
    QVERIFY(b.messages->shown.empty());

    b->BTNCloseCom->click();
    QCOMPARE(b->Label2->text(), QStringLiteral("Closed"));
    QVERIFY(b->BTNOpenCom->isEnabled());

    b.board.reappear();
    b->BTNOpenCom->click();
    QVERIFY(b.messages->shown.empty());
    QVERIFY(b->MSComm1->portOpen());
    b->Command4->click();
    QTRY_COMPARE_WITH_TIMEOUT(b->Label2->text(), QStringLiteral("READY"), kConnectMs);
}

void FaultTest::answersTrickleAt9600Baud() {
    simboard::Faults faults;
    faults.trickle = true;
    BoardBench b(withFaults(faults));
    runJob(b);
}

void FaultTest::answersSplitAcrossPolls() {
    simboard::Faults faults;
    faults.splitAnswers = true;
    BoardBench b(withFaults(faults));
    runJob(b);
}

void FaultTest::noiseBetweenAnswers_data() {
    QTest::addColumn<bool>("modbus");
    QTest::newRow("plain") << false;
    QTest::newRow("Modbus") << true;
}

void FaultTest::noiseBetweenAnswers() {
    QFETCH(bool, modbus);
    simboard::Faults faults;
    faults.garbageBefore = true;
    BoardBench b(withFaults(faults, modbus));
    b->Check1->setCheckState(modbus ? Qt::Checked : Qt::Unchecked);
    b->Text1->setText(QStringLiteral("1"));
    runJob(b);
}

void FaultTest::corruptedFramesCostOnlyThemselves() {
    simboard::Faults corrupt;
    corrupt.corruptCrcEvery = 1;
    BoardBench b(withFaults(corrupt, true));
    b->Check1->setCheckState(Qt::Checked);
    b->Text1->setText(QStringLiteral("1"));
    b->BTNOpenCom->click();
    QTRY_VERIFY_WITH_TIMEOUT(b.board.commands().size() >= 3, kConnectMs);
    QCOMPARE(b->Label2->text().left(14), QStringLiteral("WAIT Connect: "));
    QVERIFY(b->RxFrame.size() <= kModbusBufferLimit);

    b.board.setFaults({});
    runJob(b);
}

void FaultTest::silentBoardCanBeClosed() {
    simboard::Faults faults;
    faults.silent = true;
    BoardBench b(withFaults(faults));
    b->Text1->setText(QStringLiteral("5"));
    b->BTNOpenCom->click();
    QTRY_VERIFY_WITH_TIMEOUT(b.board.commands().size() >= 2, kConnectMs);
    b.chooser->answers.push_back(sourcePath("samples/blink.hex"));
    b->Command3->click();
    QTRY_VERIFY_WITH_TIMEOUT(b.board.commands().back() != std::string(kInfoCommand), kConnectMs);
    QCOMPARE(b->LineIndex, 1);

    b->BTNCloseCom->click();
    QVERIFY(!b->MSComm1->portOpen());
    QCOMPARE(b->Label2->text(), QStringLiteral("Closed"));
    const std::size_t received = b.board.commands().size();
    QTest::qWait(500);
    QCOMPARE(b.board.commands().size(), received);
}

QTEST_MAIN(FaultTest)
#include "tst_faults.moc"
