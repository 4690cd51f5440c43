// Modbus RTU framing: commands going out, answers taken off the receive buffer.

#include "link/ModbusFrame.h"
#include "protocol/Crc16.h"

#include <QByteArray>
#include <QList>
#include <QTest>

#include <string>

using namespace quenta;

namespace {
using L = QList<QByteArray>;
const QByteArray kOk = QByteArray::fromHex("01424F4B0D0A9B90"); // "OK\r\n" from address 1

// An answer frame as the bootloader sends it: address, "B", text, check value (pinned by
// unit_crc16).
QByteArray answerFrame(int address, const QByteArray &text) {
    const std::string body = char(address) + ("B" + text.toStdString());
    return QByteArray::fromStdString(body + CRC16(body));
}

// Scans until the buffer waits, one entry per report: the answer text, or the error in brackets.
L drain(std::string &rx, int address) {
    L reports;
    for (int guard = 0; guard < 5000; ++guard) {
        const ModbusScan scan = takeModbusAnswer(rx, std::uint8_t(address));
        if (rx.size() > kModbusBufferLimit)
            reports.append("<buffer over the limit>");
        if (scan.kind == ModbusScan::Kind::Incomplete)
            return reports;
        const char *error = scan.kind == ModbusScan::Kind::AddressError ? "<address>" : "<marker>";
        reports.append(scan.kind == ModbusScan::Kind::Answer
                           ? QByteArray::fromStdString(scan.answer)
                           : QByteArray(error));
    }
    reports.append("<never waits>");
    return reports;
}
} // namespace

class TestModbusFrame : public QObject {
    Q_OBJECT

private slots:
    void commandFrame_data();
    void commandFrame();
    void scan_data();
    void scan();
    void answerInTwoReads_data();
    void answerInTwoReads();
    void bufferStaysWithinLimit_data();
    void bufferStaysWithinLimit();
};

void TestModbusFrame::commandFrame_data() {
    QTest::addColumn<int>("address");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("address 1 info")
        << 1 << QByteArray("BOOTi\r\n") << QByteArray::fromHex("01424F4F54690D0AFC89");
    QTest::newRow("address 0 info")
        << 0 << QByteArray("BOOTi\r\n") << QByteArray::fromHex("00424F4F54690D0A3D45");
}

void TestModbusFrame::commandFrame() {
    QFETCH(int, address);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, expected);

    QCOMPARE(QByteArray::fromStdString(modbusFrame(std::uint8_t(address), command.toStdString())),
             expected);
}

void TestModbusFrame::scan_data() {
    QTest::addColumn<int>("address");
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<L>("reports");
    QTest::addColumn<QByteArray>("left");

    const QByteArray ok255 = answerFrame(255, "OK\r\n");
    QByteArray badCrc = answerFrame(1, "ERR\r\n");
    badCrc[badCrc.size() - 1] = char(badCrc.back() ^ 0x01);
    const QByteArray lowerMarker = answerFrame(1, "OK\r\n").replace(1, 1, "b");
    const QByteArray nested = "A" + kOk + "\r\n";

    QTest::newRow("worked example") << 1 << kOk << L{"OK\r\n"} << QByteArray();
    QTest::newRow("high and zero bytes, address 255")
        << 255 << answerFrame(255, QByteArray::fromHex("FF00807F"))
        << L{QByteArray::fromHex("FF00807F")} << QByteArray();
    QTest::newRow("short garbage waits") << 1 << QByteArray("xyzvw") << L{} << QByteArray("xyzvw");
    QTest::newRow("garbage before frame")
        << 1 << "xyz" + kOk << L{"<address>", "OK\r\n"} << QByteArray();
    QTest::newRow("address 255 behind high bytes") << 255 << QByteArray::fromHex("FE80FF41") + ok255
                                                   << L{"<address>", "OK\r\n"} << QByteArray();
    QTest::newRow("start of a frame kept") << 1 << "garbage" + QByteArray::fromHex("01424F")
                                           << L{"<address>"} << QByteArray::fromHex("01424F");
    QTest::newRow("wrong marker") << 1 << lowerMarker + kOk << L{"<marker>", "OK\r\n"}
                                  << QByteArray();
    QTest::newRow("corrupt frame then good one")
        << 1 << badCrc + kOk << L{"OK\r\n"} << QByteArray();
    QTest::newRow("two frames") << 1 << kOk + answerFrame(1, "VER=1\r\n")
                                << L{"OK\r\n", "VER=1\r\n"} << QByteArray();
    QTest::newRow("frame inside answer text")
        << 1 << answerFrame(1, nested) << L{nested} << QByteArray();
}

void TestModbusFrame::scan() {
    QFETCH(int, address);
    QFETCH(QByteArray, buffer);
    QFETCH(L, reports);
    QFETCH(QByteArray, left);

    std::string rx = buffer.toStdString();
    QCOMPARE(drain(rx, address), reports);
    QCOMPARE(QByteArray::fromStdString(rx), left);
}

void TestModbusFrame::answerInTwoReads_data() {
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");

    for (int split = 1; split < kOk.size(); ++split)
        QTest::addRow("first %d bytes", split) << kOk.left(split) << kOk.mid(split);
    // A broken frame is dropped only once a complete frame stands behind it.
    QTest::newRow("broken frame, then a frame in two reads")
        << answerFrame(1, "ERR\r\n").left(5) + kOk.left(5) << kOk.mid(5);
}

void TestModbusFrame::answerInTwoReads() {
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);

    std::string rx = first.toStdString();
    QCOMPARE(drain(rx, 1), L{});
    QCOMPARE(QByteArray::fromStdString(rx), first);
    rx += second.toStdString();
    QCOMPARE(drain(rx, 1), L{"OK\r\n"});
    QVERIFY(rx.empty());
}

void TestModbusFrame::bufferStaysWithinLimit_data() {
    QTest::addColumn<QByteArray>("garbage");
    QTest::addColumn<int>("chunk");

    QByteArray noise;
    quint32 state = 12345;
    for (int i = 0; i < 3000; ++i) {
        state = state * 1103515245u + 12345u;
        noise.append(char((state >> 16) & 0xFF));
    }
    QTest::newRow("just over the limit, one read")
        << QByteArray(qsizetype(kModbusBufferLimit), 'x') << 9999;
    QTest::newRow("address and marker, one read")
        << QByteArray::fromHex("0142").repeated(1500) << 9999;
    QTest::newRow("frame starts in chunks") << QByteArray::fromHex("01424552").repeated(700) << 50;
    QTest::newRow("pseudo-random bytes in chunks") << noise << 40;
}

// Whatever arrives, the buffer stays within the limit, and a good frame behind the garbage still
// gets through.
void TestModbusFrame::bufferStaysWithinLimit() {
    QFETCH(QByteArray, garbage);
    QFETCH(int, chunk);

    const QByteArray stream = garbage + kOk;
    std::string rx;
    L reports;
    for (qsizetype at = 0; at < stream.size(); at += chunk) {
        rx += stream.mid(at, chunk).toStdString();
        reports += drain(rx, 1);
    }
    QVERIFY(!reports.contains("<buffer over the limit>"));
    QVERIFY(!reports.contains("<never waits>"));
    QCOMPARE(reports.last(), QByteArray("OK\r\n"));
    QVERIFY(rx.empty());
}

QTEST_APPLESS_MAIN(TestModbusFrame)
#include "tst_modbusframe.moc"
