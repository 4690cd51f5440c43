// Inputs that once broke an invariant under fuzzing (fuzz/regressions/), replayed as plain tests.

#include "FakeHosted.h"
#include "link/ModbusFrame.h"

#include <QTest>

#include <string>

using namespace quenta;
using namespace quenta::testing;

class TestFuzzRegressions : public QObject {
    Q_OBJECT

private slots:
    void modbusBufferBoundedWithoutAddress_data();
    void modbusBufferBoundedWithoutAddress();
};

void TestFuzzRegressions::modbusBufferBoundedWithoutAddress_data() {
    QTest::addColumn<QString>("addressBox");

    // fuzz/regressions/fuzz_answers/modbus-buffer-without-address: flags 04 (Modbus, no file),
    // the address box "300", then polls of 255 and 2 characters "A".
    QTest::newRow("address out of range") << QStringLiteral("300");
    // The input the fuzzer first reported: the address box reads as -2.
    QTest::newRow("negative address") << QStringLiteral(" - 2.");
}

// While the address box holds no device address, what the port delivers in Modbus mode must not
// pile up past kModbusBufferLimit.
void TestFuzzRegressions::modbusBufferBoundedWithoutAddress() {
    QFETCH(QString, addressBox);
    FakeWindow w;
    w->Text1->setText(QStringLiteral("1"));
    w->BTNOpenCom->click();
    w->Timer3->setEnabled(false);
    w->TMRComm->setEnabled(false);
    w->Check1->setCheckState(Qt::Checked);
    w->Text1->setText(addressBox);
    for (const std::size_t size : {std::size_t{255}, std::size_t{2}}) {
        w.port->incoming = std::string(size, 'A');
        w->TMRComm_Timer();
        QVERIFY2(
            w->RxFrame.size() <= kModbusBufferLimit,
            qPrintable(
                QStringLiteral("the Modbus buffer holds %1 characters").arg(w->RxFrame.size())));
    }
}

QTEST_MAIN(TestFuzzRegressions)
#include "tst_fuzz_regressions.moc"
