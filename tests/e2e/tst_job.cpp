// Whole firmware jobs through the real program and a simulated board on a pseudo-terminal.
#include "BoardBench.h"
#include "controls/VbColor.h"

#include <QtTest>

using namespace quenta;
using namespace quenta::testing;

namespace {

constexpr int kConnectMs = 10000;
constexpr int kJobMs = 20000;

simboard::Options modbusBoard(std::uint8_t address) {
    simboard::Options options;
    options.bootloader.modbus = true;
    options.bootloader.address = address;
    return options;
}

} // namespace

class JobTest : public QObject {
    Q_OBJECT
private slots:
    void plainDownloadAndVerify();
    void modbusAddressSearchThenJob();
    void verifyMismatchEndsInError();
    void usbBoardAppearsAfterOpen();
    void installAndVersion();
};

void JobTest::plainDownloadAndVerify() {
    BoardBench b;
    b->BTNOpenCom->click();
    QVERIFY(b.messages->shown.empty());
    QTRY_COMPARE_WITH_TIMEOUT(b->Label2->text(), QStringLiteral("READY"), kConnectMs);
    QCOMPARE(b->Text8->text(), QStringLiteral("VER=4.1\r\n"));

    downloadAndVerifySample(b);
    QVERIFY(b.messages->shown.empty());

    b->BTNCloseCom->click();
    QVERIFY(!b->MSComm1->portOpen());
    QCOMPARE(b->Label2->text(), QStringLiteral("Closed"));
}

void JobTest::modbusAddressSearchThenJob() {
    BoardBench b(modbusBoard(5));
    b->Check1->setCheckState(Qt::Checked);
    b->BTNOpenCom->click();
    QTRY_COMPARE_WITH_TIMEOUT(b->Label2->text(), QStringLiteral("READY"), kConnectMs);
    QCOMPARE(b->Text1->text(), QStringLiteral("5"));
    QCOMPARE(b->ScanPort, 6);
    QCOMPARE(b->Command1->text(), QStringLiteral("Next"));

    downloadAndVerifySample(b);

    // "Next" goes on with the following address, which nobody answers.
    b->Command1->click();
    QTRY_COMPARE_WITH_TIMEOUT(b->Text1->text(), QStringLiteral("6"), kConnectMs);
    b->BTNCloseCom->click();
}

void JobTest::verifyMismatchEndsInError() {
    BoardBench b; // its memory is blank: the sample does not match it
    b->Text1->setText(QStringLiteral("0"));
    b->BTNOpenCom->click();
    b.chooser->answers.push_back(sourcePath("samples/blink.hex"));
    b->Command2->click();
    QTRY_COMPARE_WITH_TIMEOUT(b->vbalProgressBar1->text(), QStringLiteral("ERROR"), kJobMs);
    QCOMPARE(b->vbalProgressBar1->barColor(), VbColor::Red);
    QCOMPARE(b->VerifyMode, 0);
    // Nothing more goes out after the error.
    const std::size_t sent = b.board.commands().size();
    QTest::qWait(300);
    QCOMPARE(b.board.commands().size(), sent);
}

void JobTest::usbBoardAppearsAfterOpen() {
    simboard::Options options;
    options.faults.appearAfterMs = 1000;
    const QString link = QDir::temp().filePath(
        QStringLiteral("quenta-usb-%1").arg(QCoreApplication::applicationPid()));
    BoardBench b(options, link.toStdString());
    b->Option4->click();
    b->BTNOpenCom->click();
    QVERIFY(!b->MSComm1->portOpen());
    QCOMPARE(b->Label2->text(), QStringLiteral("WAIT Connect: "));
    QTRY_COMPARE_WITH_TIMEOUT(b->Label2->text(), QStringLiteral("READY"), kConnectMs);
    QVERIFY(b->MSComm1->portOpen());
    QVERIFY(!b->BTNOpenCom->isEnabled());
    QVERIFY(b->BTNCloseCom->isEnabled());
    QCOMPARE(b->ScanPort, 1);
    QCOMPARE(b.board.commands(), std::vector<std::string>{"BOOTi\r\n"});
    QVERIFY(b.messages->shown.empty());
}

void JobTest::installAndVersion() {
    BoardBench b;
    b->Text1->setText(QStringLiteral("0"));
    b->BTNOpenCom->click();
    b->Command6->click();
    QTRY_VERIFY_WITH_TIMEOUT(b->Text8->text().contains(QStringLiteral("VER=4.1")), kConnectMs);
    QCOMPARE(b.board.commands(), (std::vector<std::string>{"BOOTg\r\n", "VER\r\n"}));
    QCOMPARE(b->Label2->text(), QStringLiteral("READY"));
}

QTEST_MAIN(JobTest)
#include "tst_job.moc"
