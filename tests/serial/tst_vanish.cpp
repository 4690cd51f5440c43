// A device that vanishes while the serial port control holds it open, as when the USB cable of
// the board is pulled: the control closes itself, stays usable, and opens the next device.

#include "SerialBench.h"

#include <QCoreApplication>
#include <QFile>

#include <memory>

using namespace quenta;
using namespace quenta::testing;

class TestVanish : public QObject {
    Q_OBJECT

private slots:
    void cleanup();

    void vanishedDeviceClosesPort_data();
    void vanishedDeviceClosesPort();
    void vanishedDeviceFreedForOthers();
    void deviceVanishedBeforeOpenRaises();

private:
    SerialBench bench_;
};

void TestVanish::cleanup() {
    bench_.closeAll();
}

void TestVanish::vanishedDeviceClosesPort_data() {
    QTest::addColumn<QString>("moment");

    QTest::newRow("idle") << QStringLiteral("idle");
    QTest::newRow("input unread in the buffer") << QStringLiteral("buffered");
    QTest::newRow("input waiting in the device") << QStringLiteral("device");
    QTest::newRow("output written after the loss") << QStringLiteral("output");
    QTest::newRow("input read after the loss") << QStringLiteral("input");
}

void TestVanish::vanishedDeviceClosesPort() {
    QFETCH(QString, moment);

    PtyPair &pty = bench_.newPty();
    QtSerialPortControl &control = bench_.newControl();
    control.setSettings(QStringLiteral("115200,n,8,1"));
    SERIAL_CHECK(openOn(control, pty));
    SERIAL_CHECK(exchange(control, pty));

    if (moment == QLatin1String("buffered")) {
        QVERIFY(pty.send("partial answ"));
        QTRY_COMPARE_WITH_TIMEOUT(control.inBufferCount(), 12, kEventGuardMs);
    } else if (moment == QLatin1String("device")) {
        QVERIFY(pty.send("partial answ"));
        QVERIFY(pty.waitUntilInDevice(12));
    }

    pty.closeMaster();

    if (moment == QLatin1String("output")) {
        // Straight after the loss, before any event loop has run: the write fails, and
        // setOutput neither hangs nor lets anything but a ControlError escape.
        try {
            control.setOutput(std::string(64, 'x'));
        } catch (const ControlError &error) {
            QVERIFY(!error.description().isEmpty());
        }
    } else if (moment == QLatin1String("input")) {
        int count = -1;
        QVERIFY_THROWS_NO_EXCEPTION(count = control.inBufferCount());
        QVERIFY(count >= 0);
        QVERIFY_THROWS_NO_EXCEPTION(control.input());
    }

    // The control notices on its own and closes the port.
    QTRY_VERIFY_WITH_TIMEOUT(!control.portOpen(), kEventGuardMs);

    // Once closed it stays closed and quiet: further event processing reopens nothing, and a
    // closed port reads nothing.
    QCoreApplication::processEvents();
    QVERIFY(!control.portOpen());
    QCOMPARE(control.inBufferCount(), 0);
    QCOMPARE(control.input(), std::string());

    // Closing what the control already closed is harmless.
    QVERIFY_THROWS_NO_EXCEPTION(control.setPortOpen(false));
    QVERIFY(!control.portOpen());

    // The board is plugged in again: the same control opens the new device, with the same
    // settings, and the line works both ways.
    PtyPair &replugged = bench_.newPty();
    SERIAL_CHECK(openOn(control, replugged));
    const std::optional<termios> line = replugged.lineSettings();
    QVERIFY(line.has_value());
    QCOMPARE(cfgetospeed(&*line), speed_t(B115200));
    SERIAL_CHECK(exchange(control, replugged));
    QCOMPARE(asBytes(replugged.receiveWaiting()), QByteArray());
}

void TestVanish::vanishedDeviceFreedForOthers() {
    // Once the lost board is gone for good its pseudo-terminal number is free again, and the
    // replugged board usually gets the very same path: nothing of the lost device may still be
    // held under that path, by this control or for another one.
    auto lost = std::make_unique<PtyPair>();
    QtSerialPortControl &control = bench_.newControl();
    SERIAL_CHECK(openOn(control, *lost));

    lost->closeMaster();
    QTRY_VERIFY_WITH_TIMEOUT(!control.portOpen(), kEventGuardMs);
    lost.reset();

    PtyPair &replugged = bench_.newPty();
    QtSerialPortControl &other = bench_.newControl();
    SERIAL_CHECK(openOn(other, replugged));
    SERIAL_CHECK(exchange(other, replugged));
    other.setPortOpen(false);

    SERIAL_CHECK(openOn(control, replugged));
    SERIAL_CHECK(exchange(control, replugged));
}

void TestVanish::deviceVanishedBeforeOpenRaises() {
    PtyPair &pty = bench_.newPty();
    QtSerialPortControl &control = bench_.newControl();
    QVERIFY(pty.isValid());
    control.setCommPort(pty.path());
    SERIAL_CHECK(openOn(control, pty));
    control.setPortOpen(false);

    // Gone while the port was closed. The test still holds the other end, so the number of the
    // device cannot go to a new pseudo-terminal meanwhile: the path leads nowhere.
    pty.closeMaster();
    QVERIFY(!QFile::exists(pty.path()));
    const auto error = raised([&] { control.setPortOpen(true); });
    QVERIFY(error.has_value());
    QVERIFY(error->number() != 0);
    QVERIFY(!error->description().isEmpty());
    QVERIFY(!control.portOpen());
    QCOMPARE(control.inBufferCount(), 0);
    QCOMPARE(control.input(), std::string());
}

QTEST_MAIN(TestVanish)
#include "tst_vanish.moc"
