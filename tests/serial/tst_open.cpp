// Choosing, opening and closing the serial port, and the line settings it opens with, against
// real pseudo-terminals.

#include "SerialBench.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>

using namespace quenta;
using namespace quenta::testing;

namespace {

// The path QSerialPort-style names stand for: a bare name lives in /dev.
QString asDevicePath(const QString &name) {
    return name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
}

speed_t speedOf(int baud) {
    switch (baud) {
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 115200:
        return B115200;
    default:
        return B0;
    }
}

// The device is set to the given speed and to 8 data bits, no parity, 1 stop bit, and passes
// every byte through untouched.
void checkLine(const PtyPair &pty, int baud) {
    const std::optional<termios> line = pty.lineSettings();
    QVERIFY(line.has_value());
    QCOMPARE(cfgetospeed(&*line), speedOf(baud));
    QCOMPARE(cfgetispeed(&*line), speedOf(baud));
    QCOMPARE(line->c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(line->c_cflag & PARENB, tcflag_t(0));
    QCOMPARE(line->c_cflag & CSTOPB, tcflag_t(0));
    QVERIFY(line->c_cflag & CREAD);
    QCOMPARE(line->c_lflag & (ICANON | ECHO | ISIG | IEXTEN), tcflag_t(0));
    QCOMPARE(line->c_iflag & (IXON | IXOFF | ISTRIP | INLCR | ICRNL | IGNCR | PARMRK), tcflag_t(0));
    QCOMPARE(line->c_oflag & OPOST, tcflag_t(0));
}

int baudOf(const QString &settings) {
    return settings.section(QLatin1Char(','), 0, 0).toInt();
}

} // namespace

class TestOpen : public QObject {
    Q_OBJECT

private slots:
    void cleanup();

    void portNumberSelectsTtyS_data();
    void portNumberSelectsTtyS();
    void portNumberBelowOneRaises_data();
    void portNumberBelowOneRaises();
    void devicePathOpensAsItStands_data();
    void devicePathOpensAsItStands();

    void openFailureRaises_data();
    void openFailureRaises();
    void portHeldByAnotherControlRaises();
    void portFreedForOthers_data();
    void portFreedForOthers();
    void openingTwiceRaises();
    void closingClosedPortIsHarmless_data();
    void closingClosedPortIsHarmless();

    void settingsApplied_data();
    void settingsApplied();
    void settingsApplyAtNextOpen_data();
    void settingsApplyAtNextOpen();
    void invalidSettingsRaise_data();
    void invalidSettingsRaise();
    void settingsRefusedByDeviceAreNotFatal_data();
    void settingsRefusedByDeviceAreNotFatal();

private:
    SerialBench bench_;
};

void TestOpen::cleanup() {
    bench_.closeAll();
}

void TestOpen::portNumberSelectsTtyS_data() {
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("device");

    QTest::newRow("1") << 1 << QStringLiteral("/dev/ttyS0");
    QTest::newRow("2") << 2 << QStringLiteral("/dev/ttyS1");
    QTest::newRow("4") << 4 << QStringLiteral("/dev/ttyS3");
    QTest::newRow("10") << 10 << QStringLiteral("/dev/ttyS9");
    QTest::newRow("200") << 200 << QStringLiteral("/dev/ttyS199");
    QTest::newRow("32767") << 32767 << QStringLiteral("/dev/ttyS32766");
}

void TestOpen::portNumberSelectsTtyS() {
    QFETCH(int, number);
    QFETCH(QString, device);

    QtSerialPortControl &control = bench_.newControl();
    QVERIFY_THROWS_NO_EXCEPTION(control.setCommPort(static_cast<std::int16_t>(number)));
    QCOMPARE(asDevicePath(control.deviceName()), device);
    QVERIFY(!control.portOpen());
}

void TestOpen::portNumberBelowOneRaises_data() {
    QTest::addColumn<int>("number");

    QTest::newRow("0") << 0;
    QTest::newRow("-1") << -1;
    QTest::newRow("-32768") << -32768;
}

void TestOpen::portNumberBelowOneRaises() {
    QFETCH(int, number);

    // The device chosen before stays chosen: the next open still reaches it.
    PtyPair &pty = bench_.newPty();
    QVERIFY(pty.isValid());
    QtSerialPortControl &control = bench_.newControl();
    control.setCommPort(pty.path());

    const auto error = raised([&] { control.setCommPort(static_cast<std::int16_t>(number)); });
    QVERIFY(error.has_value());
    QCOMPARE(error->number(), CommError::InvalidPortNumber);
    QVERIFY(!error->description().isEmpty());

    QVERIFY_THROWS_NO_EXCEPTION(control.setPortOpen(true));
    SERIAL_CHECK(exchange(control, pty));
}

void TestOpen::devicePathOpensAsItStands_data() {
    QTest::addColumn<QString>("form");

    QTest::newRow("device node") << QStringLiteral("node");
    QTest::newRow("symbolic link to the node") << QStringLiteral("link");
    QTest::newRow("node with a ./ step") << QStringLiteral("dot");
    QTest::newRow("node with a doubled slash") << QStringLiteral("slashes");
}

void TestOpen::devicePathOpensAsItStands() {
    QFETCH(QString, form);

    PtyPair &pty = bench_.newPty();
    QVERIFY(pty.isValid());
    QTemporaryDir dir;
    QVERIFY(dir.isValid());

    QString path = pty.path();
    if (form == QLatin1String("link")) {
        path = dir.filePath(QStringLiteral("board"));
        QVERIFY(QFile::link(pty.path(), path));
    } else if (form == QLatin1String("dot")) {
        const int slash = path.lastIndexOf(QLatin1Char('/'));
        path.insert(slash, QStringLiteral("/."));
    } else if (form == QLatin1String("slashes")) {
        path.replace(QStringLiteral("/dev/"), QStringLiteral("/dev//"));
    }

    QtSerialPortControl &control = bench_.newControl();
    QVERIFY_THROWS_NO_EXCEPTION(control.setCommPort(path));
    QVERIFY_THROWS_NO_EXCEPTION(control.setPortOpen(true));
    QVERIFY(control.portOpen());
    SERIAL_CHECK(exchange(control, pty));
    QVERIFY_THROWS_NO_EXCEPTION(control.setPortOpen(false));
    QVERIFY(!control.portOpen());
}

void TestOpen::openFailureRaises_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("number");
    // 0: any error number will do, as long as there is one.
    QTest::addColumn<int>("expected");

    QTest::newRow("path that does not exist")
        << QStringLiteral("/dev/quenta-no-such-board") << 0 << CommError::InvalidPortNumber;
    QTest::newRow("file in a directory that does not exist")
        << QStringLiteral("/nonexistent-quenta-dir/ttyUSB0") << 0 << CommError::InvalidPortNumber;
    QTest::newRow("port 200, no /dev/ttyS199") << QString() << 200 << CommError::InvalidPortNumber;
    QTest::newRow("port 32767, no /dev/ttyS32766")
        << QString() << 32767 << CommError::InvalidPortNumber;
    QTest::newRow("not a terminal") << QStringLiteral("/dev/null") << 0 << 0;
    QTest::newRow("a directory") << QStringLiteral("/dev/pts") << 0 << 0;
}

void TestOpen::openFailureRaises() {
    QFETCH(QString, path);
    QFETCH(int, number);
    QFETCH(int, expected);

    QtSerialPortControl &control = bench_.newControl();
    if (number > 0) {
        QVERIFY(!QFile::exists(QStringLiteral("/dev/ttyS%1").arg(number - 1)));
        control.setCommPort(static_cast<std::int16_t>(number));
    } else {
        control.setCommPort(path);
    }

    const auto first = raised([&] { control.setPortOpen(true); });
    QVERIFY(first.has_value());
    QVERIFY(!first->description().isEmpty());
    QVERIFY(first->number() != 0);
    if (expected != 0) {
        QCOMPARE(first->number(), expected);
    }
    QVERIFY(!control.portOpen());
    QCOMPARE(control.inBufferCount(), 0);
    QCOMPARE(control.input(), std::string());

    // A failed open leaves nothing held: trying again fails for the same reason.
    const auto second = raised([&] { control.setPortOpen(true); });
    QVERIFY(second.has_value());
    QCOMPARE(second->number(), first->number());
    QVERIFY(!control.portOpen());

    // And the control still opens a device that is there.
    PtyPair &pty = bench_.newPty();
    SERIAL_CHECK(openOn(control, pty));
    SERIAL_CHECK(exchange(control, pty));
}

void TestOpen::portHeldByAnotherControlRaises() {
    PtyPair &pty = bench_.newPty();
    QtSerialPortControl &holder = bench_.newControl();
    SERIAL_CHECK(openOn(holder, pty));

    QtSerialPortControl &latecomer = bench_.newControl();
    latecomer.setCommPort(pty.path());
    const auto error = raised([&] { latecomer.setPortOpen(true); });
    QVERIFY(error.has_value());
    QCOMPARE(error->number(), CommError::PortAlreadyOpen);
    QVERIFY(!error->description().isEmpty());
    QVERIFY(!latecomer.portOpen());

    // The holder keeps the device, undisturbed.
    QVERIFY(holder.portOpen());
    SERIAL_CHECK(exchange(holder, pty));

    // Once the holder lets go, the device is free.
    holder.setPortOpen(false);
    QVERIFY_THROWS_NO_EXCEPTION(latecomer.setPortOpen(true));
    QVERIFY(latecomer.portOpen());
    SERIAL_CHECK(exchange(latecomer, pty));
}

void TestOpen::portFreedForOthers_data() {
    QTest::addColumn<bool>("destroy");

    QTest::newRow("port closed") << false;
    QTest::newRow("control destroyed while open") << true;
}

void TestOpen::portFreedForOthers() {
    QFETCH(bool, destroy);

    PtyPair &pty = bench_.newPty();
    QVERIFY(pty.isValid());
    {
        QtSerialPortControl first;
        SERIAL_CHECK(openOn(first, pty));
        if (!destroy) {
            first.setPortOpen(false);
            QVERIFY(!first.portOpen());
        }
    }

    QtSerialPortControl &second = bench_.newControl();
    SERIAL_CHECK(openOn(second, pty));
    SERIAL_CHECK(exchange(second, pty));
}

void TestOpen::openingTwiceRaises() {
    PtyPair &pty = bench_.newPty();
    QtSerialPortControl &control = bench_.newControl();
    SERIAL_CHECK(openOn(control, pty));

    const auto error = raised([&] { control.setPortOpen(true); });
    QVERIFY(error.has_value());
    QCOMPARE(error->number(), CommError::PortAlreadyOpen);
    QVERIFY(!error->description().isEmpty());

    // The port stays open and working.
    QVERIFY(control.portOpen());
    SERIAL_CHECK(exchange(control, pty));
}

void TestOpen::closingClosedPortIsHarmless_data() {
    QTest::addColumn<QString>("history");

    QTest::newRow("no port selected") << QStringLiteral("none");
    QTest::newRow("selected, never opened") << QStringLiteral("selected");
    QTest::newRow("opened and closed") << QStringLiteral("closed");
    QTest::newRow("open failed") << QStringLiteral("failed");
}

void TestOpen::closingClosedPortIsHarmless() {
    QFETCH(QString, history);

    PtyPair &pty = bench_.newPty();
    QVERIFY(pty.isValid());
    QtSerialPortControl &control = bench_.newControl();
    if (history == QLatin1String("selected")) {
        control.setCommPort(pty.path());
    } else if (history == QLatin1String("closed")) {
        SERIAL_CHECK(openOn(control, pty));
        control.setPortOpen(false);
    } else if (history == QLatin1String("failed")) {
        control.setCommPort(QStringLiteral("/dev/quenta-no-such-board"));
        QVERIFY(raised([&] { control.setPortOpen(true); }).has_value());
    }

    QVERIFY(!control.portOpen());
    QVERIFY_THROWS_NO_EXCEPTION(control.setPortOpen(false));
    QVERIFY_THROWS_NO_EXCEPTION(control.setPortOpen(false));
    QVERIFY(!control.portOpen());

    // Nothing of the device is held: another control opens it.
    QtSerialPortControl &other = bench_.newControl();
    SERIAL_CHECK(openOn(other, pty));
    SERIAL_CHECK(exchange(other, pty));
}

void TestOpen::settingsApplied_data() {
    QTest::addColumn<QString>("settings");
    QTest::addColumn<bool>("settingsFirst");

    for (const char *settings : {"9600,n,8,1", "19200,n,8,1", "115200,n,8,1"}) {
        QTest::addRow("%s, then port", settings) << QString::fromLatin1(settings) << true;
        QTest::addRow("port, then %s", settings) << QString::fromLatin1(settings) << false;
    }
}

void TestOpen::settingsApplied() {
    QFETCH(QString, settings);
    QFETCH(bool, settingsFirst);

    PtyPair &pty = bench_.newPty();
    QVERIFY(pty.isValid());
    QtSerialPortControl &control = bench_.newControl();
    if (settingsFirst) {
        QVERIFY_THROWS_NO_EXCEPTION(control.setSettings(settings));
        control.setCommPort(pty.path());
    } else {
        control.setCommPort(pty.path());
        QVERIFY_THROWS_NO_EXCEPTION(control.setSettings(settings));
    }
    QVERIFY_THROWS_NO_EXCEPTION(control.setPortOpen(true));
    QVERIFY(control.portOpen());

    SERIAL_CHECK(checkLine(pty, baudOf(settings)));
    SERIAL_CHECK(exchange(control, pty));
}

void TestOpen::settingsApplyAtNextOpen_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");

    QTest::newRow("115200, then 9600")
        << QStringLiteral("115200,n,8,1") << QStringLiteral("9600,n,8,1");
    QTest::newRow("9600, then 19200")
        << QStringLiteral("9600,n,8,1") << QStringLiteral("19200,n,8,1");
    QTest::newRow("19200, then 115200")
        << QStringLiteral("19200,n,8,1") << QStringLiteral("115200,n,8,1");
}

void TestOpen::settingsApplyAtNextOpen() {
    QFETCH(QString, before);
    QFETCH(QString, after);

    PtyPair &pty = bench_.newPty();
    QtSerialPortControl &control = bench_.newControl();
    control.setSettings(before);
    SERIAL_CHECK(openOn(control, pty));
    SERIAL_CHECK(checkLine(pty, baudOf(before)));
    control.setPortOpen(false);

    control.setSettings(after);
    QVERIFY_THROWS_NO_EXCEPTION(control.setPortOpen(true));
    SERIAL_CHECK(checkLine(pty, baudOf(after)));
    SERIAL_CHECK(exchange(control, pty));
}

void TestOpen::invalidSettingsRaise_data() {
    QTest::addColumn<QString>("settings");

    QTest::newRow("empty") << QString();
    QTest::newRow("baud only") << QStringLiteral("9600");
    QTest::newRow("three fields") << QStringLiteral("9600,n,8");
    QTest::newRow("five fields") << QStringLiteral("9600,n,8,1,1");
    QTest::newRow("baud not a number") << QStringLiteral("fast,n,8,1");
    QTest::newRow("baud zero") << QStringLiteral("0,n,8,1");
    QTest::newRow("baud negative") << QStringLiteral("-9600,n,8,1");
    QTest::newRow("unknown parity") << QStringLiteral("9600,x,8,1");
    QTest::newRow("parity missing") << QStringLiteral("9600,,8,1");
    QTest::newRow("parity spelled out") << QStringLiteral("9600,none,8,1");
    QTest::newRow("9 data bits") << QStringLiteral("9600,n,9,1");
    QTest::newRow("4 data bits") << QStringLiteral("9600,n,4,1");
    QTest::newRow("0 stop bits") << QStringLiteral("9600,n,8,0");
    QTest::newRow("3 stop bits") << QStringLiteral("9600,n,8,3");
    QTest::newRow("semicolons") << QStringLiteral("9600;n;8;1");
}

void TestOpen::invalidSettingsRaise() {
    QFETCH(QString, settings);

    // The settings in force before the refused text stay in force.
    PtyPair &pty = bench_.newPty();
    QtSerialPortControl &control = bench_.newControl();
    control.setSettings(QStringLiteral("19200,n,8,1"));

    const auto error = raised([&] { control.setSettings(settings); });
    QVERIFY(error.has_value());
    QCOMPARE(error->number(), CommError::InvalidPropertyValue);
    QVERIFY(!error->description().isEmpty());

    SERIAL_CHECK(openOn(control, pty));
    SERIAL_CHECK(checkLine(pty, 19200));
}

void TestOpen::settingsRefusedByDeviceAreNotFatal_data() {
    QTest::addColumn<QString>("settings");
    QTest::addColumn<bool>("whileOpen");

    // A pseudo-terminal always runs 8 data bits without parity and reports any other framing
    // as an unsupported operation; so may a USB adapter. That is no reason to fail or drop the
    // port: the speed still applies and the line still works.
    for (const char *settings :
         {"9600,e,8,1", "19200,o,7,1", "115200,n,7,2", "9600,m,8,1", "19200,s,5,1"}) {
        QTest::addRow("%s at open", settings) << QString::fromLatin1(settings) << false;
        QTest::addRow("%s while open", settings) << QString::fromLatin1(settings) << true;
    }
}

void TestOpen::settingsRefusedByDeviceAreNotFatal() {
    QFETCH(QString, settings);
    QFETCH(bool, whileOpen);

    PtyPair &pty = bench_.newPty();
    QtSerialPortControl &control = bench_.newControl();
    if (whileOpen) {
        SERIAL_CHECK(openOn(control, pty));
        QVERIFY_THROWS_NO_EXCEPTION(control.setSettings(settings));
    } else {
        QVERIFY_THROWS_NO_EXCEPTION(control.setSettings(settings));
        SERIAL_CHECK(openOn(control, pty));
        const std::optional<termios> line = pty.lineSettings();
        QVERIFY(line.has_value());
        QCOMPARE(cfgetospeed(&*line), speedOf(baudOf(settings)));
    }

    // Whatever the device made of it, the port is open and carries every byte.
    QCoreApplication::processEvents();
    QVERIFY(control.portOpen());
    SERIAL_CHECK(exchange(control, pty));
    const std::string bytes = allByteValues();
    control.setOutput(bytes);
    QCOMPARE(asBytes(pty.receive(bytes.size())), asBytes(bytes));
    QVERIFY(control.portOpen());
}

QTEST_MAIN(TestOpen)
#include "tst_open.moc"
