// Characters through the serial port control, both ways, against real pseudo-terminals: every
// byte value unchanged, output on the line before setOutput returns, input handed over whole,
// stale input never read.

#include "PtyPair.h"

#include <QMetaObject>

#include <atomic>
#include <thread>

using namespace quenta;
using namespace quenta::testing;

class TestData : public QObject {
    Q_OBJECT

private slots:
    void bytesArriveUnchanged_data();
    void bytesArriveUnchanged();
    void longOutput_data();
    void longOutput();
    void staleInputNeverRead_data();
    void staleInputNeverRead();
    void outputWhileAnswerWaits_data();
    void outputWhileAnswerWaits();
};

void TestData::bytesArriveUnchanged_data() {
    QTest::addColumn<bool>("outgoing");
    QTest::addColumn<QByteArray>("bytes");

    const QByteArray all = asBytes(allByteValues());
    QTest::newRow("out: every byte value") << true << all;
    QTest::newRow("out: 4 KiB") << true << all.repeated(16);
    QTest::newRow("in: every byte value") << false << all;
    QTest::newRow("in: 4 KiB") << false << all.repeated(16);
}

void TestData::bytesArriveUnchanged() {
    QFETCH(bool, outgoing);
    QFETCH(QByteArray, bytes);

    PtyPair pty;
    QtSerialPortControl control;
    SERIAL_CHECK(openOn(control, pty));
    const std::string_view text(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    if (outgoing) {
        // No event loop runs: what the board receives was on the line when setOutput returned.
        control.setOutput(text);
        QCOMPARE(asBytes(pty.receive(text.size())), bytes);
    } else {
        QVERIFY(pty.send(text));
        QTRY_COMPARE_WITH_TIMEOUT(control.inBufferCount(), static_cast<int>(bytes.size()),
                                  kEventGuardMs);
        QCOMPARE(asBytes(control.input()), bytes);
        QCOMPARE(control.inBufferCount(), 0);
    }
    QVERIFY(control.portOpen());
}

void TestData::longOutput_data() {
    QTest::addColumn<bool>("boardReads");

    QTest::newRow("board reads along") << true;
    QTest::newRow("board takes nothing") << false;
}

void TestData::longOutput() {
    QFETCH(bool, boardReads);

    // Far more than the device buffers. While the board reads, setOutput goes on until the last
    // byte is on the line; when the line stalls, it raises rather than return with bytes unsent
    // (the board gives in after the guard, so that a control waiting forever fails, not hangs).
    const std::string block = asBytes(allByteValues()).repeated(2048).toStdString();
    PtyPair pty;
    QtSerialPortControl control;
    SERIAL_CHECK(openOn(control, pty));

    enum Outcome { Writing, Returned, Raised };
    std::atomic<Outcome> outcome = Writing;
    std::string received;
    std::jthread board([&] {
        const QDeadlineTimer stall(kHangGuardMs);
        while (!boardReads && outcome == Writing && !stall.hasExpired()) {
            ::usleep(1000);
        }
        if (outcome != Raised) {
            received = pty.receive(block.size());
        }
    });
    const auto error = raised([&] { control.setOutput(block); });
    outcome = error.has_value() ? Raised : Returned;
    board.join();

    if (boardReads) {
        QVERIFY(!error.has_value());
        QCOMPARE(received.size(), block.size());
        QVERIFY(received == block);
        QVERIFY(control.portOpen());
    } else {
        QVERIFY(error.has_value());
        QCOMPARE(error->number(), CommError::PortNotAvailable);
        QVERIFY(!error->description().isEmpty());
    }
}

void TestData::staleInputNeverRead_data() {
    QTest::addColumn<bool>("openedBefore");

    QTest::newRow("sent before the first open") << false;
    QTest::newRow("left unread at the last close") << true;
}

void TestData::staleInputNeverRead() {
    QFETCH(bool, openedBefore);

    const std::string stale = "stale\r" + allByteValues();
    PtyPair pty;
    QtSerialPortControl control;
    if (openedBefore) {
        SERIAL_CHECK(openOn(control, pty));
        QVERIFY(pty.send(stale));
        QTRY_COMPARE_WITH_TIMEOUT(control.inBufferCount(), static_cast<int>(stale.size()),
                                  kEventGuardMs);
        control.setPortOpen(false);
    } else {
        control.setCommPort(pty.path());
        QVERIFY(pty.send(stale));
        QVERIFY(pty.waitUntilInDevice(static_cast<int>(stale.size())));
    }

    // A closed port reads nothing.
    QVERIFY(!control.portOpen());
    QCOMPARE(control.inBufferCount(), 0);
    QCOMPARE(control.input(), std::string());

    // Opening clears it: the device delivers in order, so stale bytes would come first.
    QVERIFY_THROWS_NO_EXCEPTION(control.setPortOpen(true));
    QCOMPARE(control.inBufferCount(), 0);
    QVERIFY(pty.send("fresh\r"));
    QTRY_VERIFY_WITH_TIMEOUT(control.inBufferCount() >= 6, kEventGuardMs);
    QCOMPARE(asBytes(control.input()), QByteArray("fresh\r"));
}

void TestData::outputWhileAnswerWaits_data() {
    QTest::addColumn<bool>("queued");

    QTest::newRow("called directly") << false;
    QTest::newRow("called from a queued call") << true;
}

void TestData::outputWhileAnswerWaits() {
    QFETCH(bool, queued);

    // The answer has reached the device, unread, when the next command is written. From a queued
    // call, setOutput takes the answer in while it waits for its bytes to go out, and the read
    // notice of the same event loop pass then finds the device empty and reports a read error:
    // no reason to close, nor to lose the answer.
    const std::string answer = "answer\r";
    const std::string command = "command\r";
    PtyPair pty;
    QtSerialPortControl control;
    SERIAL_CHECK(openOn(control, pty));
    SERIAL_CHECK(exchange(control, pty));
    QVERIFY(pty.send(answer));
    QVERIFY(pty.waitUntilInDevice(static_cast<int>(answer.size())));

    bool written = false;
    const auto write = [&] {
        control.setOutput(command);
        written = true;
    };
    if (queued) {
        QMetaObject::invokeMethod(&control, write, Qt::QueuedConnection);
        QTRY_VERIFY_WITH_TIMEOUT(written, kEventGuardMs);
    } else {
        write();
    }
    QCOMPARE(asBytes(pty.receive(command.size())), asBytes(command));
    QTRY_COMPARE_WITH_TIMEOUT(control.inBufferCount(), static_cast<int>(answer.size()),
                              kEventGuardMs);
    QCOMPARE(asBytes(control.input()), asBytes(answer));
    QVERIFY(control.portOpen());
    SERIAL_CHECK(exchange(control, pty));
}

QTEST_MAIN(TestData)
#include "tst_data.moc"
