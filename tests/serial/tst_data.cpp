// Characters through the serial port control, both ways, against real pseudo-terminals: every
// byte value unchanged and in order, output on the line before setOutput returns, input counted
// and handed over whole, stale input dropped at open.

#include "SerialBench.h"

#include <QByteArrayList>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMetaObject>

#include <atomic>
#include <thread>

using namespace quenta;
using namespace quenta::testing;

namespace {

std::string reversed(std::string bytes) {
    std::reverse(bytes.begin(), bytes.end());
    return bytes;
}

QByteArray fromStd(const std::string &bytes) {
    return asBytes(bytes);
}

std::string toStd(const QByteArray &bytes) {
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// Characters that a cooked terminal line would swallow, translate, double or act upon.
std::string lineControlBytes() {
    return std::string("\x00\x03\x04\x0a\x0d\x11\x13\x1a\x1c\x7f\xff\xff\x0d\x0a\x00", 15);
}

void addByteRows() {
    QTest::addColumn<QByteArrayList>("pieces");

    QTest::newRow("every byte value, 0 to 255") << QByteArrayList{fromStd(allByteValues())};
    QTest::newRow("every byte value, 255 to 0")
        << QByteArrayList{fromStd(reversed(allByteValues()))};
    QTest::newRow("line control bytes") << QByteArrayList{fromStd(lineControlBytes())};
    QTest::newRow("NUL bytes only") << QByteArrayList{QByteArray(16, '\0')};
    QTest::newRow("single byte 0xFF") << QByteArrayList{QByteArray(1, '\xff')};
    QTest::newRow("4 KiB block") << QByteArrayList{fromStd(bytePattern(4096))};
    QTest::newRow("records one after another")
        << QByteArrayList{QByteArray(":10000000"), QByteArray(1, '\0'), QByteArray("\xff\xfe", 2),
                          QByteArray("\r\n"), fromStd(allByteValues())};
}

} // namespace

class TestData : public QObject {
    Q_OBJECT

private slots:
    void cleanup();

    void outputArrivesUnchanged_data();
    void outputArrivesUnchanged();
    void emptyOutputSendsNothing();
    void largeOutputArrivesWhole();
    void outputOnStalledLineKeepsItsWord();
    void inputArrivesUnchanged_data();
    void inputArrivesUnchanged();
    void largeInputArrivesWhole();
    void staleInputClearedAtOpen_data();
    void staleInputClearedAtOpen();
    void closedPortReadsNothing_data();
    void closedPortReadsNothing();
    void outputWhileAnswerWaits_data();
    void outputWhileAnswerWaits();

private:
    SerialBench bench_;
};

void TestData::cleanup() {
    bench_.closeAll();
}

void TestData::outputArrivesUnchanged_data() {
    addByteRows();
}

void TestData::outputArrivesUnchanged() {
    QFETCH(QByteArrayList, pieces);

    PtyPair &pty = bench_.newPty();
    QtSerialPortControl &control = bench_.newControl();
    SERIAL_CHECK(openOn(control, pty));

    // No event loop runs from here on: whatever the board receives was on the line when
    // setOutput returned.
    const QByteArray expected = pieces.join();
    for (const QByteArray &piece : pieces) {
        control.setOutput(
            std::string_view(piece.constData(), static_cast<std::size_t>(piece.size())));
    }
    QCOMPARE(asBytes(pty.receive(static_cast<std::size_t>(expected.size()))), expected);
    QCOMPARE(asBytes(pty.receiveWaiting()), QByteArray());
    QVERIFY(control.portOpen());
}

void TestData::emptyOutputSendsNothing() {
    PtyPair &pty = bench_.newPty();
    QtSerialPortControl &control = bench_.newControl();
    SERIAL_CHECK(openOn(control, pty));

    QVERIFY_THROWS_NO_EXCEPTION(control.setOutput(std::string_view()));
    QCOMPARE(asBytes(pty.receiveWaiting()), QByteArray());
    QVERIFY(control.portOpen());
    SERIAL_CHECK(exchange(control, pty));
}

void TestData::largeOutputArrivesWhole() {
    // Far more than the device buffers: setOutput must keep writing while the board reads,
    // and still return only once the last byte is on the line.
    const std::string block = bytePattern(512 * 1024);

    PtyPair &pty = bench_.newPty();
    QtSerialPortControl &control = bench_.newControl();
    SERIAL_CHECK(openOn(control, pty));

    std::string received;
    std::thread board([&] { received = pty.receive(block.size()); });
    try {
        control.setOutput(block);
    } catch (...) {
        board.join();
        throw;
    }
    board.join();

    QCOMPARE(received.size(), block.size());
    QVERIFY(received == block);
    QVERIFY(control.portOpen());
}

void TestData::outputOnStalledLineKeepsItsWord() {
    // The board takes nothing until setOutput has returned, as a slow line or a board holding
    // off would (so that a control waiting patiently cannot hang the test, the board gives in
    // after the guard). Whatever setOutput does meanwhile, it may not return with characters
    // still off the line and say nothing: either all of them are on the line, or it raises.
    const std::string block = bytePattern(512 * 1024);

    PtyPair &pty = bench_.newPty();
    QtSerialPortControl &control = bench_.newControl();
    SERIAL_CHECK(openOn(control, pty));

    enum Outcome { Writing, Returned, Raised };
    std::atomic<Outcome> outcome = Writing;
    std::string received;
    std::thread board([&] {
        const QDeadlineTimer stall(kHangGuardMs);
        while (outcome == Writing && !stall.hasExpired()) {
            ::usleep(1000);
        }
        if (outcome != Raised) {
            received = pty.receive(block.size());
        }
    });
    std::optional<ControlError> error;
    try {
        error = raised([&] { control.setOutput(block); });
    } catch (...) {
        outcome = Raised;
        board.join();
        throw;
    }
    outcome = error.has_value() ? Raised : Returned;
    board.join();

    if (error.has_value()) {
        QVERIFY(!error->description().isEmpty());
        return;
    }
    QCOMPARE(received.size(), block.size());
    QVERIFY(received == block);
}

void TestData::inputArrivesUnchanged_data() {
    addByteRows();
}

void TestData::inputArrivesUnchanged() {
    QFETCH(QByteArrayList, pieces);

    PtyPair &pty = bench_.newPty();
    QtSerialPortControl &control = bench_.newControl();
    SERIAL_CHECK(openOn(control, pty));
    QCOMPARE(control.inBufferCount(), 0);

    const QByteArray expected = pieces.join();
    for (const QByteArray &piece : pieces) {
        QVERIFY(pty.send(toStd(piece)));
    }
    QTRY_COMPARE_WITH_TIMEOUT(control.inBufferCount(), static_cast<int>(expected.size()),
                              kEventGuardMs);
    const std::string input = control.input();
    QCOMPARE(asBytes(input), expected);
    // Every character is one byte: nothing widened, nothing dropped.
    QCOMPARE(input.size(), static_cast<std::size_t>(expected.size()));

    // Taken out of the buffer.
    QCOMPARE(control.inBufferCount(), 0);
    QCOMPARE(control.input(), std::string());
}

void TestData::largeInputArrivesWhole() {
    // More than the device holds at once: the board can only go on sending while the control
    // reads, so the block arrives in many pieces that input() hands over in order.
    const std::string block = bytePattern(256 * 1024);

    PtyPair &pty = bench_.newPty();
    QtSerialPortControl &control = bench_.newControl();
    SERIAL_CHECK(openOn(control, pty));

    std::string received;
    std::size_t sent = 0;
    const QDeadlineTimer guard(4 * kHangGuardMs);
    while (received.size() < block.size() && !guard.hasExpired()) {
        if (sent < block.size()) {
            sent += pty.sendSome(std::string_view(block).substr(sent));
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (control.inBufferCount() > 0) {
            received += control.input();
        }
    }

    QCOMPARE(sent, block.size());
    QCOMPARE(received.size(), block.size());
    QVERIFY(received == block);
    QCOMPARE(control.inBufferCount(), 0);
}

void TestData::staleInputClearedAtOpen_data() {
    QTest::addColumn<QString>("history");

    QTest::newRow("sent before the first open") << QStringLiteral("before");
    QTest::newRow("left in the device by the last session") << QStringLiteral("device");
    QTest::newRow("left unread in the buffer by the last session") << QStringLiteral("buffer");
    QTest::newRow("sent while the port was closed") << QStringLiteral("closed");
}

void TestData::staleInputClearedAtOpen() {
    QFETCH(QString, history);

    const std::string stale = "stale answer\r" + allByteValues();
    const std::string fresh = "fresh\r";

    PtyPair &pty = bench_.newPty();
    QtSerialPortControl &control = bench_.newControl();
    QVERIFY(pty.isValid());
    control.setCommPort(pty.path());

    if (history == QLatin1String("before")) {
        QVERIFY(pty.send(stale));
    } else if (history == QLatin1String("device")) {
        // No event loop runs while the board sends: the bytes stay in the device.
        SERIAL_CHECK(openOn(control, pty));
        QVERIFY(pty.send(stale));
        QVERIFY(pty.waitUntilInDevice(static_cast<int>(stale.size())));
        control.setPortOpen(false);
    } else if (history == QLatin1String("buffer")) {
        SERIAL_CHECK(openOn(control, pty));
        QVERIFY(pty.send(stale));
        QTRY_COMPARE_WITH_TIMEOUT(control.inBufferCount(), static_cast<int>(stale.size()),
                                  kEventGuardMs);
        control.setPortOpen(false);
    } else if (history == QLatin1String("closed")) {
        SERIAL_CHECK(openOn(control, pty));
        SERIAL_CHECK(exchange(control, pty));
        control.setPortOpen(false);
        QVERIFY(pty.send(stale));
    }
    QVERIFY(!control.portOpen());
    if (history != QLatin1String("buffer")) {
        // The stale bytes really wait in the device when the port opens.
        QVERIFY(pty.waitUntilInDevice(static_cast<int>(stale.size())));
    }

    QVERIFY_THROWS_NO_EXCEPTION(control.setPortOpen(true));
    QCOMPARE(control.inBufferCount(), 0);

    // The device delivers in order: stale bytes still around would come before the fresh ones.
    QVERIFY(pty.send(fresh));
    QTRY_VERIFY_WITH_TIMEOUT(control.inBufferCount() >= static_cast<int>(fresh.size()),
                             kEventGuardMs);
    QCOMPARE(asBytes(control.input()), asBytes(fresh));
}

void TestData::closedPortReadsNothing_data() {
    QTest::addColumn<QString>("history");

    QTest::newRow("no port selected") << QStringLiteral("none");
    QTest::newRow("selected, never opened") << QStringLiteral("selected");
    QTest::newRow("closed with input unread") << QStringLiteral("unread");
    QTest::newRow("open failed") << QStringLiteral("failed");
}

void TestData::closedPortReadsNothing() {
    QFETCH(QString, history);

    PtyPair &pty = bench_.newPty();
    QVERIFY(pty.isValid());
    QtSerialPortControl &control = bench_.newControl();
    if (history == QLatin1String("selected")) {
        control.setCommPort(pty.path());
        QVERIFY(pty.send("waiting"));
    } else if (history == QLatin1String("unread")) {
        SERIAL_CHECK(openOn(control, pty));
        QVERIFY(pty.send("unread answer"));
        QTRY_COMPARE_WITH_TIMEOUT(control.inBufferCount(), 13, kEventGuardMs);
        control.setPortOpen(false);
        QVERIFY(pty.send("more"));
    } else if (history == QLatin1String("failed")) {
        control.setCommPort(QStringLiteral("/dev/quenta-no-such-board"));
        QVERIFY(raised([&] { control.setPortOpen(true); }).has_value());
    }
    QVERIFY(!control.portOpen());

    int count = -1;
    QVERIFY_THROWS_NO_EXCEPTION(count = control.inBufferCount());
    QCOMPARE(count, 0);
    std::string input = "untouched";
    QVERIFY_THROWS_NO_EXCEPTION(input = control.input());
    QCOMPARE(input, std::string());
    QVERIFY(!control.portOpen());
}

void TestData::outputWhileAnswerWaits_data() {
    QTest::addColumn<bool>("fromEventLoop");

    QTest::newRow("called directly") << false;
    QTest::newRow("called from a queued call") << true;
}

void TestData::outputWhileAnswerWaits() {
    QFETCH(bool, fromEventLoop);

    // The board's answer has reached the device, but the control has not picked it up yet,
    // when the program writes the next command. The answer must be kept, and the port must stay
    // open, whichever way the program got to write.
    //
    // Written from a queued call, the write runs in the same event loop pass that saw the
    // answer arrive, before the control's read notification of that pass: setOutput, waiting
    // for its bytes to go out, already takes the answer in, and the notification then finds the
    // device empty and reports a read error. The device is fine; that is no reason to close.
    const std::string answer = "answer\r";
    const std::string command = "command\r";

    PtyPair &pty = bench_.newPty();
    QtSerialPortControl &control = bench_.newControl();
    SERIAL_CHECK(openOn(control, pty));
    SERIAL_CHECK(exchange(control, pty));

    QVERIFY(pty.send(answer));
    QVERIFY(pty.waitUntilInDevice(static_cast<int>(answer.size())));

    bool written = false;
    const auto write = [&] {
        control.setOutput(command);
        written = true;
    };
    if (fromEventLoop) {
        QMetaObject::invokeMethod(&control, write, Qt::QueuedConnection);
        QTRY_VERIFY_WITH_TIMEOUT(written, kEventGuardMs);
    } else {
        write();
    }
    QCOMPARE(asBytes(pty.receive(command.size())), asBytes(command));
    QVERIFY(control.portOpen());

    QTRY_COMPARE_WITH_TIMEOUT(control.inBufferCount(), static_cast<int>(answer.size()),
                              kEventGuardMs);
    QCOMPARE(asBytes(control.input()), asBytes(answer));
    QVERIFY(control.portOpen());
    SERIAL_CHECK(exchange(control, pty));
}

QTEST_MAIN(TestData)
#include "tst_data.moc"
