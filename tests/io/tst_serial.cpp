// The serial port and the window's control over it, against real pseudo-terminals: bytes both ways
// unchanged, line settings, open failures that say why, one lock per device whatever its name, a
// device that goes away (the control's report of it is held by the end-to-end bench), and output
// that never blocks the caller.
#include "Pty.h"
#include "io/port/ControlError.h"
#include "io/port/QtSerialPortControl.h"
#include "io/port/SerialPort.h"

#include <QSerialPort>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>

#include <numeric>
#include <optional>

using namespace quenta;
using namespace quenta::testing;

namespace {
constexpr int kEventGuardMs = 10000;

template <typename Action> std::optional<ControlError> raised(Action &&action) {
    try {
        action();
    } catch (const ControlError &error) {
        return error;
    }
    return std::nullopt;
}

bool openOn(QtSerialPortControl &control, const QString &path) {
    control.setCommPort(path);
    return !raised([&] { control.setPortOpen(true); }) && control.portOpen();
}

// Every byte value, `times` times over.
std::string block(int times = 1) {
    std::string bytes(256 * times, '\0');
    std::iota(bytes.begin(), bytes.end(), '\0');
    return bytes;
}

// The bytes each way: the control holds this device open and they cross the line unchanged.
void exchange(QtSerialPortControl &control, const PtyPair &pty, const std::string &bytes = "ping") {
    control.setOutput(bytes);
    QVERIFY(pty.receive(bytes.size()) == bytes);
    QVERIFY(pty.send(bytes));
    QTRY_COMPARE_WITH_TIMEOUT(control.inBufferCount(), int(bytes.size()), kEventGuardMs);
    QVERIFY(control.input() == bytes);
}
} // namespace

class TestSerial : public QObject {
    Q_OBJECT
private slots:
    // Opened by a link, the port is the device behind it; every byte value crosses both ways.
    // The board's end closed: the port closes and says so in plain words, once.
    void portByLinkThenLost() {
        PtyPair pty;
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("board"));
        QVERIFY(QFile::link(pty.path(), link));
        SerialPort port(link, 115200);
        QByteArray arrived;
        connect(&port, &SerialPort::received, [&](const QByteArray &bytes) { arrived += bytes; });
        QSignalSpy lost(&port, &SerialPort::lost);
        QCOMPARE(port.open().kind, PortProblem::Kind::None);
        QCOMPARE(port.path(), link);
        QCOMPARE(port.device(), pty.path());
        QCOMPARE(pty.speed(), speed_t(B115200));
        port.write(block());
        QVERIFY(pty.receive(256) == block());
        QVERIFY(pty.send(block()));
        QTRY_COMPARE_WITH_TIMEOUT(arrived, QByteArray::fromStdString(block()), kEventGuardMs);

        pty.closeMaster();
        QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, kEventGuardMs);
        QCOMPARE(lost.at(0).at(0).toString(), pty.path() + QStringLiteral(" went away."));
        QVERIFY(!port.isOpen());
        QTest::qWait(50);
        QCOMPARE(lost.count(), 1);
    }

    // Open failures say why; the holder of the port goes on undisturbed, its line settings
    // applied as they change (a framing the device refuses, as a pseudo-terminal refuses 7E2,
    // keeps the port usable).
    void openFailuresSayWhy() {
        QtSerialPortControl control;
        control.setCommPort(QStringLiteral("/dev/quenta-no-such-board"));
        auto error = raised([&] { control.setPortOpen(true); });
        QCOMPARE(error->number(), CommError::InvalidPortNumber);
        QCOMPARE(error->description(), QStringLiteral("There is no /dev/quenta-no-such-board."));
        QCOMPARE(raised([&] { control.setCommPort(std::int16_t{0}); })->number(),
                 CommError::InvalidPortNumber);

        PtyPair pty;
        QtSerialPortControl holder;
        holder.setSettings(QStringLiteral("9600,n,8,1"));
        QVERIFY(openOn(holder, pty.path()));
        QCOMPARE(pty.speed(), speed_t(B9600));
        control.setCommPort(pty.path());
        error = raised([&] { control.setPortOpen(true); });
        QCOMPARE(error->number(), CommError::PortAlreadyOpen);
        QVERIFY2(
            error->description().contains(QStringLiteral("is in use by")) &&
                error->description().contains(QString::number(QCoreApplication::applicationPid())),
            qPrintable(error->description()));
        QVERIFY(!control.portOpen());
        QCOMPARE(raised([&] { holder.setPortOpen(true); })->number(), CommError::PortAlreadyOpen);
        holder.setSettings(QStringLiteral("115200,n,8,1"));
        QCOMPARE(pty.speed(), speed_t(B115200));
        holder.setSettings(QStringLiteral("19200,e,7,2"));
        QCOMPARE(pty.speed(), speed_t(B19200));
        QCOMPARE(raised([&] { holder.setSettings(QStringLiteral("fast,n,8")); })->number(),
                 CommError::InvalidPropertyValue);
        exchange(holder, pty);
    }

    // A stable name under /dev/serial/by-id and the device it leads to are one port: whichever name
    // opens it first, the other finds it in use. A long name opens as well as a short one. Every
    // byte value crosses both ways.
    void oneLockPerDevice() {
        PtyPair pty;
        QTemporaryDir dir;
        const QString link =
            dir.filePath(QStringLiteral("usb-Quenta_Board_").repeated(12) + "if00");
        QVERIFY(QFile::link(pty.path(), link));
        QtSerialPortControl byName;
        QtSerialPortControl byDevice;
        QVERIFY(openOn(byName, link));
        QVERIFY(!openOn(byDevice, pty.path()));
        exchange(byName, pty, block());
        byName.setPortOpen(false);
        QVERIFY(openOn(byDevice, pty.path()));
        QVERIFY(!openOn(byName, link));
    }

    // A read alarm from a device that is fine (here another reader of the device took the bytes
    // the port was told of) is survived as a serial control always did: the alarm is cleared and
    // the port read on. It is never closed behind the caller's back, so that nothing waiting in
    // the device is lost and the lines a board watches do not drop.
    void falseAlarmKeepsThePort() {
        PtyPair pty;
        QSocketNotifier thief(pty.slaveHandle(), QSocketNotifier::Read); // served before the port
        SerialPort port(pty.path(), 115200);
        QByteArray arrived;
        connect(&port, &SerialPort::received, [&](const QByteArray &bytes) { arrived += bytes; });
        QSignalSpy lost(&port, &SerialPort::lost);
        QCOMPARE(port.open().kind, PortProblem::Kind::None);
        auto *device = port.findChild<QSerialPort *>();
        QVERIFY(device != nullptr);
        QSignalSpy alarms(device, &QSerialPort::errorOccurred);
        QSignalSpy closings(device, &QIODevice::aboutToClose);
        connect(&thief, &QSocketNotifier::activated, [&] {
            thief.setEnabled(false);
            pty.steal();
            // The board answers while the alarm is looked into.
            QTimer::singleShot(0, [&] { pty.send("KEEP\r\n"); });
        });
        QVERIFY(pty.send("TAKEN\r\n"));
        QTRY_VERIFY_WITH_TIMEOUT(arrived.contains("KEEP\r\n"), kEventGuardMs);
        QVERIFY2(!alarms.isEmpty(), "the port was never told of bytes it could not read");
        QCOMPARE(closings.count(), 0);
        QCOMPARE(lost.count(), 0);
        QVERIFY(port.isOpen());
        port.write("next");
        QCOMPARE(pty.receive(4), std::string("next"));
    }

    void staleInputNeverRead() {
        PtyPair pty;
        QtSerialPortControl control;
        control.setCommPort(pty.path());
        QVERIFY(pty.send("stale\r"));
        QVERIFY(pty.waitUntilInDevice(6));
        QCOMPARE(control.inBufferCount(), 0);
        control.setPortOpen(true);
        QVERIFY(pty.send("fresh\r"));
        QTRY_VERIFY_WITH_TIMEOUT(control.inBufferCount() >= 6, kEventGuardMs);
        QCOMPARE(control.input(), std::string("fresh\r"));
    }

    // Far more than the device buffers: setOutput returns at once, the rest follows as the line
    // takes it while the event loop runs; a line that takes nothing for 5 s loses the port.
    void outputNeverBlocks() {
        const std::string bytes = block(256);
        PtyPair reading;
        QtSerialPortControl control;
        QVERIFY(openOn(control, reading.path()));
        control.setOutput(bytes);
        std::string received;
        QTRY_VERIFY_WITH_TIMEOUT(
            (received += reading.receive(bytes.size() - received.size(), 1)).size() == bytes.size(),
            kEventGuardMs);
        QVERIFY(received == bytes);
        QVERIFY(control.portOpen());

        PtyPair stalled;
        control.setPortOpen(false);
        QVERIFY(openOn(control, stalled.path()));
        control.setOutput(bytes);
        QTRY_VERIFY_WITH_TIMEOUT(!control.portOpen(), 3 * kEventGuardMs);
        QVERIFY(raised([&] { control.inBufferCount(); })->description().contains("took no output"));
    }
};

QTEST_MAIN(TestSerial)
#include "tst_serial.moc"
