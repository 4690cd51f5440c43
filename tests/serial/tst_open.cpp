// Choosing and opening the serial port, the line settings it opens with, and a device that
// vanishes while open, against real pseudo-terminals.

#include "PtyPair.h"

#include <QFile>

#include <cstdint>
#include <memory>

using namespace quenta;
using namespace quenta::testing;

class TestOpen : public QObject {
    Q_OBJECT

private slots:
    void portNumber_data();
    void portNumber();
    void openFailureRaises_data();
    void openFailureRaises();
    void settings_data();
    void settings();
    void vanishedDeviceClosesPort_data();
    void vanishedDeviceClosesPort();
};

void TestOpen::portNumber_data() {
    QTest::addColumn<int>("number");
    // Empty: the number is refused.
    QTest::addColumn<QString>("device");

    QTest::newRow("1") << 1 << QStringLiteral("/dev/ttyS0");
    QTest::newRow("10") << 10 << QStringLiteral("/dev/ttyS9");
    QTest::newRow("32767") << 32767 << QStringLiteral("/dev/ttyS32766");
    QTest::newRow("0") << 0 << QString();
    QTest::newRow("-1") << -1 << QString();
}

void TestOpen::portNumber() {
    QFETCH(int, number);
    QFETCH(QString, device);

    QtSerialPortControl control;
    control.setCommPort(QStringLiteral("/dev/quenta-chosen-before"));
    const auto error = raised([&] { control.setCommPort(static_cast<std::int16_t>(number)); });
    QString name = control.deviceName();
    if (!name.startsWith(QLatin1Char('/'))) {
        name.prepend(QStringLiteral("/dev/"));
    }
    if (device.isEmpty()) {
        QVERIFY(error.has_value());
        QCOMPARE(error->number(), CommError::InvalidPortNumber);
        QCOMPARE(name, QStringLiteral("/dev/quenta-chosen-before"));
    } else {
        QVERIFY(!error.has_value());
        QCOMPARE(name, device);
    }
    QVERIFY(!control.portOpen());
}

void TestOpen::openFailureRaises_data() {
    QTest::addColumn<QString>("situation");
    QTest::addColumn<int>("expected");

    QTest::newRow("path that does not exist")
        << QStringLiteral("missing") << CommError::InvalidPortNumber;
    QTest::newRow("port 200, no /dev/ttyS199")
        << QStringLiteral("number") << CommError::InvalidPortNumber;
    QTest::newRow("held by another control")
        << QStringLiteral("held") << CommError::PortAlreadyOpen;
    QTest::newRow("opened twice") << QStringLiteral("twice") << CommError::PortAlreadyOpen;
}

void TestOpen::openFailureRaises() {
    QFETCH(QString, situation);
    QFETCH(int, expected);

    PtyPair pty;
    QtSerialPortControl holder;
    QtSerialPortControl control;
    if (situation == QLatin1String("missing")) {
        control.setCommPort(QStringLiteral("/dev/quenta-no-such-board"));
    } else if (situation == QLatin1String("number")) {
        QVERIFY(!QFile::exists(QStringLiteral("/dev/ttyS199")));
        control.setCommPort(std::int16_t{200});
    } else if (situation == QLatin1String("held")) {
        SERIAL_CHECK(openOn(holder, pty));
        control.setCommPort(pty.path());
    } else {
        SERIAL_CHECK(openOn(control, pty));
    }

    const auto error = raised([&] { control.setPortOpen(true); });
    QVERIFY(error.has_value());
    QCOMPARE(error->number(), expected);
    QVERIFY(!error->description().isEmpty());
    QCOMPARE(control.portOpen(), situation == QLatin1String("twice"));

    // The holder keeps the device undisturbed; once it lets go, the failed control opens it.
    if (holder.portOpen()) {
        SERIAL_CHECK(exchange(holder, pty));
        holder.setPortOpen(false);
    }
    if (!control.portOpen()) {
        SERIAL_CHECK(openOn(control, pty));
    }
    SERIAL_CHECK(exchange(control, pty));
}

void TestOpen::settings_data() {
    QTest::addColumn<QString>("settings");
    QTest::addColumn<bool>("whileOpen");
    QTest::addColumn<speed_t>("speed");
    // 0: accepted.
    QTest::addColumn<int>("expected");

    QTest::newRow("9600 before open")
        << QStringLiteral("9600,n,8,1") << false << speed_t(B9600) << 0;
    QTest::newRow("115200 while open")
        << QStringLiteral("115200,n,8,1") << true << speed_t(B115200) << 0;
    // A pseudo-terminal refuses any framing but 8N1, as may a USB adapter: the speed still
    // applies and the port stays open.
    QTest::newRow("framing the device refuses")
        << QStringLiteral("9600,e,7,2") << true << speed_t(B9600) << 0;
    QTest::newRow("three fields") << QStringLiteral("9600,n,8") << false << speed_t(B19200)
                                  << CommError::InvalidPropertyValue;
    QTest::newRow("baud not a number while open")
        << QStringLiteral("fast,n,8,1") << true << speed_t(B19200)
        << CommError::InvalidPropertyValue;
}

void TestOpen::settings() {
    QFETCH(QString, settings);
    QFETCH(bool, whileOpen);
    QFETCH(speed_t, speed);
    QFETCH(int, expected);

    PtyPair pty;
    QtSerialPortControl control;
    control.setSettings(QStringLiteral("19200,n,8,1"));
    if (whileOpen) {
        SERIAL_CHECK(openOn(control, pty));
    }
    const auto error = raised([&] { control.setSettings(settings); });
    QCOMPARE(error.has_value() ? error->number() : 0, expected);
    if (!whileOpen) {
        SERIAL_CHECK(openOn(control, pty));
    }
    QCOMPARE(pty.speed(), speed);
    SERIAL_CHECK(exchange(control, pty));
    QVERIFY(control.portOpen());
}

void TestOpen::vanishedDeviceClosesPort_data() {
    QTest::addColumn<QString>("moment");

    QTest::newRow("idle") << QStringLiteral("idle");
    QTest::newRow("input waiting in the device") << QStringLiteral("input");
    QTest::newRow("output written after the loss") << QStringLiteral("output");
}

void TestOpen::vanishedDeviceClosesPort() {
    QFETCH(QString, moment);

    auto lost = std::make_unique<PtyPair>();
    QtSerialPortControl control;
    control.setSettings(QStringLiteral("115200,n,8,1"));
    SERIAL_CHECK(openOn(control, *lost));
    if (moment == QLatin1String("input")) {
        QVERIFY(lost->send("answ"));
        QVERIFY(lost->waitUntilInDevice(4));
    }

    lost->closeMaster();
    if (moment == QLatin1String("output")) {
        // Before any event loop has run: neither a hang nor anything but a ControlError.
        raised([&] { control.setOutput(std::string(64, 'x')); });
    }
    QTRY_VERIFY_WITH_TIMEOUT(!control.portOpen(), kEventGuardMs);
    QCOMPARE(control.inBufferCount(), 0);
    QCOMPARE(control.input(), std::string());

    // Plugged in again, usually under the same path: the control opens it with its settings.
    lost.reset();
    PtyPair replugged;
    SERIAL_CHECK(openOn(control, replugged));
    QCOMPARE(replugged.speed(), speed_t(B115200));
    SERIAL_CHECK(exchange(control, replugged));
}

QTEST_MAIN(TestOpen)
#include "tst_open.moc"
