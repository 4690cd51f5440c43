// Modbus RTU framing: commands going out, answers taken off the receive buffer.

#include "ReferenceCrc.h"

#include "link/ModbusFrame.h"

#include <QByteArray>
#include <QList>
#include <QTest>

#include <string>

using namespace quenta;
using namespace quenta_test;

Q_DECLARE_METATYPE(quenta::ModbusScan::Kind)

namespace {

// An answer frame as the bootloader sends it: address, "B", text, check value.
QByteArray answerFrame(int address, const QByteArray &text) {
    return withReferenceCrc(QByteArray(1, char(address)) + 'B' + text);
}

const char *kindName(ModbusScan::Kind kind) {
    switch (kind) {
    case ModbusScan::Kind::Incomplete:
        return "Incomplete";
    case ModbusScan::Kind::Answer:
        return "Answer";
    case ModbusScan::Kind::AddressError:
        return "AddressError";
    case ModbusScan::Kind::MarkerError:
        return "MarkerError";
    }
    return "?";
}

} // namespace

namespace QTest {
template <> char *toString(const ModbusScan::Kind &kind) {
    return qstrdup(kindName(kind));
}
} // namespace QTest

class TestModbusFrame : public QObject {
    Q_OBJECT

private slots:
    void commandFrame_data();
    void commandFrame();
    void singleAnswer_data();
    void singleAnswer();
    void shortBufferWaits_data();
    void shortBufferWaits();
    void answerInTwoReads_data();
    void answerInTwoReads();
    void answerByteByByte();
    void wrongAddress_data();
    void wrongAddress();
    void wrongMarker_data();
    void wrongMarker();
    void badFrameThenGoodFrame_data();
    void badFrameThenGoodFrame();
    void badFrameThenGoodFrameLater();
    void frameInsideAnswerText();
    void twoAnswersInOrder_data();
    void twoAnswersInOrder();
    void bufferStaysWithinLimit_data();
    void bufferStaysWithinLimit();
    void frameBehindLongGarbage_data();
    void frameBehindLongGarbage();
};

void TestModbusFrame::commandFrame_data() {
    QTest::addColumn<int>("address");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("address 1 info")
        << 1 << QByteArray("BOOTi\r\n") << QByteArray::fromHex("01424F4F54690D0AFC89");
    QTest::newRow("address 0 info")
        << 0 << QByteArray("BOOTi\r\n") << withReferenceCrc(QByteArray(1, '\0') + "BOOTi\r\n");
    QTest::newRow("address 255 install")
        << 255 << QByteArray("BOOTg\r\n")
        << withReferenceCrc(QByteArray(1, char(0xFF)) + "BOOTg\r\n");
    QTest::newRow("address 128 firmware line")
        << 128 << QByteArray("BOOT:00000001FF\r\n")
        << withReferenceCrc(QByteArray(1, char(0x80)) + "BOOT:00000001FF\r\n");
    QTest::newRow("empty command") << 7 << QByteArray() << withReferenceCrc(QByteArray(1, char(7)));
}

void TestModbusFrame::commandFrame() {
    QFETCH(int, address);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, expected);

    const std::string frame = modbusFrame(std::uint8_t(address), toStd(command));
    QCOMPARE(toBytes(frame), expected);
    QCOMPARE(frame.size(), std::size_t(command.size() + 3));
}

void TestModbusFrame::singleAnswer_data() {
    QTest::addColumn<int>("address");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("answer");

    QTest::newRow("address 1 OK, bytes written out")
        << 1 << QByteArray::fromHex("01424F4B0D0A9B90") << QByteArray("OK\r\n");
    QTest::newRow("address 0") << 0 << answerFrame(0, "OK\r\n") << QByteArray("OK\r\n");
    QTest::newRow("address 255") << 255 << answerFrame(255, "OK\r\n") << QByteArray("OK\r\n");
    QTest::newRow("address 200 version")
        << 200 << answerFrame(200, "VER=1.23\r\n") << QByteArray("VER=1.23\r\n");
    QTest::newRow("two text characters") << 9 << answerFrame(9, "OK") << QByteArray("OK");
    QTest::newRow("text with high and zero bytes")
        << 1 << answerFrame(1, QByteArray::fromHex("FF00807F") + "\r\n")
        << QByteArray::fromHex("FF00807F0D0A");
}

void TestModbusFrame::singleAnswer() {
    QFETCH(int, address);
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, answer);

    std::string buffer = toStd(frame);
    const ModbusScan scan = takeModbusAnswer(buffer, std::uint8_t(address));
    QCOMPARE(scan.kind, ModbusScan::Kind::Answer);
    QCOMPARE(toBytes(scan.answer), answer);
    QCOMPARE(toBytes(buffer), QByteArray());

    const ModbusScan again = takeModbusAnswer(buffer, std::uint8_t(address));
    QCOMPARE(again.kind, ModbusScan::Kind::Incomplete);
}

void TestModbusFrame::shortBufferWaits_data() {
    QTest::addColumn<int>("address");
    QTest::addColumn<QByteArray>("buffer");

    QTest::newRow("empty") << 1 << QByteArray();
    QTest::newRow("address only") << 1 << QByteArray::fromHex("01");
    QTest::newRow("address and marker") << 1 << QByteArray::fromHex("0142");
    QTest::newRow("five of a frame") << 1 << answerFrame(1, "OK\r\n").left(5);
    QTest::newRow("wrong address, five") << 1 << QByteArray("xyzvw");
    QTest::newRow("wrong marker, five") << 1 << QByteArray::fromHex("01624F4B0D");
    QTest::newRow("address 255, five") << 255 << answerFrame(255, "OK\r\n").left(5);
}

void TestModbusFrame::shortBufferWaits() {
    QFETCH(int, address);
    QFETCH(QByteArray, buffer);

    QVERIFY(buffer.size() < qsizetype(kModbusMinFrame));
    std::string rx = toStd(buffer);
    const ModbusScan scan = takeModbusAnswer(rx, std::uint8_t(address));
    QCOMPARE(scan.kind, ModbusScan::Kind::Incomplete);
    QCOMPARE(toBytes(rx), buffer);
}

void TestModbusFrame::answerInTwoReads_data() {
    QTest::addColumn<int>("split");

    const QByteArray frame = answerFrame(1, "OK\r\n");
    for (int split = 1; split < frame.size(); ++split)
        QTest::addRow("first %d bytes", split) << split;
}

void TestModbusFrame::answerInTwoReads() {
    QFETCH(int, split);

    const QByteArray frame = answerFrame(1, "OK\r\n");
    std::string rx = toStd(frame.left(split));
    const ModbusScan first = takeModbusAnswer(rx, 1);
    QCOMPARE(first.kind, ModbusScan::Kind::Incomplete);
    QCOMPARE(toBytes(rx), frame.left(split));

    rx += toStd(frame.mid(split));
    const ModbusScan second = takeModbusAnswer(rx, 1);
    QCOMPARE(second.kind, ModbusScan::Kind::Answer);
    QCOMPARE(toBytes(second.answer), QByteArray("OK\r\n"));
    QCOMPARE(toBytes(rx), QByteArray());
}

// A longer answer arriving one character per poll, polled until nothing is left each time.
void TestModbusFrame::answerByteByByte() {
    const QByteArray frame = answerFrame(1, "VER=1.23\r\n");
    std::string rx;
    QList<QByteArray> answers;
    for (const char c : frame) {
        rx += c;
        for (int guard = 0; guard < 10; ++guard) {
            const ModbusScan scan = takeModbusAnswer(rx, 1);
            if (scan.kind == ModbusScan::Kind::Incomplete)
                break;
            QCOMPARE(scan.kind, ModbusScan::Kind::Answer);
            answers.append(toBytes(scan.answer));
        }
    }
    QCOMPARE(answers, QList<QByteArray>{QByteArray("VER=1.23\r\n")});
    QCOMPARE(toBytes(rx), QByteArray());
}

void TestModbusFrame::wrongAddress_data() {
    QTest::addColumn<int>("address");
    QTest::addColumn<QByteArray>("front");
    QTest::addColumn<QByteArray>("rest");

    const QByteArray good1 = answerFrame(1, "OK\r\n");
    QTest::newRow("garbage before frame") << 1 << QByteArray("xyz") << good1;
    QTest::newRow("one stray byte") << 1 << QByteArray::fromHex("07") << good1;
    QTest::newRow("address without marker in garbage")
        << 1 << QByteArray::fromHex("0501580201") << good1;
    QTest::newRow("frame for another address") << 1 << answerFrame(2, "OK\r\n") << good1;
    QTest::newRow("marker without address") << 1 << QByteArray("BBB") << good1;
    QTest::newRow("address 255 behind high bytes")
        << 255 << QByteArray::fromHex("FE80FF41") << answerFrame(255, "OK\r\n");
    QTest::newRow("address 0 behind zero-free garbage")
        << 0 << QByteArray::fromHex("424242") << answerFrame(0, "OK\r\n");
    QTest::newRow("start of a frame only")
        << 1 << QByteArray("garbage") << QByteArray::fromHex("01424F");
}

void TestModbusFrame::wrongAddress() {
    QFETCH(int, address);
    QFETCH(QByteArray, front);
    QFETCH(QByteArray, rest);

    std::string rx = toStd(front + rest);
    QVERIFY(rx.size() >= kModbusMinFrame);
    const ModbusScan scan = takeModbusAnswer(rx, std::uint8_t(address));
    QCOMPARE(scan.kind, ModbusScan::Kind::AddressError);
    QCOMPARE(toBytes(rx), rest);
}

void TestModbusFrame::wrongMarker_data() {
    QTest::addColumn<QByteArray>("front");
    QTest::addColumn<QByteArray>("rest");

    const QByteArray good = answerFrame(1, "OK\r\n");
    QByteArray lower = QByteArray::fromHex("01") + 'b' + "OK\r\n";
    lower = withReferenceCrc(lower);
    QTest::newRow("lower-case marker, good frame after") << lower << good;
    QTest::newRow("address twice") << QByteArray::fromHex("01") << good;
    QTest::newRow("other marker") << QByteArray::fromHex("0141585858") << good;
    QTest::newRow("lower-case marker, nothing after") << lower << QByteArray();
    QTest::newRow("garbage, then address and marker at the very end")
        << QByteArray::fromHex("0143434343") << QByteArray::fromHex("0142");
}

void TestModbusFrame::wrongMarker() {
    QFETCH(QByteArray, front);
    QFETCH(QByteArray, rest);

    std::string rx = toStd(front + rest);
    const ModbusScan scan = takeModbusAnswer(rx, 1);
    QCOMPARE(scan.kind, ModbusScan::Kind::MarkerError);
    QCOMPARE(toBytes(rx), rest);

    if (rest.size() >= qsizetype(kModbusMinFrame)) {
        const ModbusScan next = takeModbusAnswer(rx, 1);
        QCOMPARE(next.kind, ModbusScan::Kind::Answer);
        QCOMPARE(toBytes(next.answer), QByteArray("OK\r\n"));
    }
}

void TestModbusFrame::badFrameThenGoodFrame_data() {
    QTest::addColumn<int>("address");
    QTest::addColumn<QByteArray>("bad");
    QTest::addColumn<QByteArray>("good");
    QTest::addColumn<QByteArray>("answer");

    QByteArray wrongCrc = answerFrame(1, "ERR\r\n");
    wrongCrc[wrongCrc.size() - 1] = char(wrongCrc.at(wrongCrc.size() - 1) ^ 0x01);
    QByteArray wrongText = answerFrame(1, "ERR\r\n");
    wrongText[3] = 'X';
    QTest::newRow("check value damaged")
        << 1 << wrongCrc << answerFrame(1, "OK\r\n") << QByteArray("OK\r\n");
    QTest::newRow("text damaged") << 1 << wrongText << answerFrame(1, "VER=2\r\n")
                                  << QByteArray("VER=2\r\n");
    QTest::newRow("frame cut short") << 1 << answerFrame(1, "ERR\r\n").left(4)
                                     << answerFrame(1, "OK\r\n") << QByteArray("OK\r\n");
    QTest::newRow("only address and marker")
        << 1 << QByteArray::fromHex("0142") << answerFrame(1, "OK\r\n") << QByteArray("OK\r\n");
    QByteArray wrong255 = answerFrame(255, "ERR\r\n");
    wrong255[wrong255.size() - 2] = char(wrong255.at(wrong255.size() - 2) ^ 0x80);
    QTest::newRow("address 255") << 255 << wrong255 << answerFrame(255, "OK\r\n")
                                 << QByteArray("OK\r\n");
}

void TestModbusFrame::badFrameThenGoodFrame() {
    QFETCH(int, address);
    QFETCH(QByteArray, bad);
    QFETCH(QByteArray, good);
    QFETCH(QByteArray, answer);

    std::string rx = toStd(bad + good);
    const ModbusScan scan = takeModbusAnswer(rx, std::uint8_t(address));
    QCOMPARE(scan.kind, ModbusScan::Kind::Answer);
    QCOMPARE(toBytes(scan.answer), answer);
    QCOMPARE(toBytes(rx), QByteArray());
}

// A broken frame is kept while what follows it is still incomplete: it is dropped only once a
// complete frame stands behind it.
void TestModbusFrame::badFrameThenGoodFrameLater() {
    const QByteArray bad = answerFrame(1, "ERR\r\n").left(5);
    const QByteArray good = answerFrame(1, "OK\r\n");
    std::string rx = toStd(bad + good.left(5));
    QCOMPARE(takeModbusAnswer(rx, 1).kind, ModbusScan::Kind::Incomplete);
    QCOMPARE(toBytes(rx), bad + good.left(5));

    rx += toStd(good.mid(5));
    const ModbusScan scan = takeModbusAnswer(rx, 1);
    QCOMPARE(scan.kind, ModbusScan::Kind::Answer);
    QCOMPARE(toBytes(scan.answer), QByteArray("OK\r\n"));
    QCOMPARE(toBytes(rx), QByteArray());
}

// A valid frame at the front is taken whole, even when its text holds a complete frame.
void TestModbusFrame::frameInsideAnswerText() {
    const QByteArray text = "A" + answerFrame(1, "OK\r\n") + "\r\n";
    std::string rx = toStd(answerFrame(1, text));
    const ModbusScan scan = takeModbusAnswer(rx, 1);
    QCOMPARE(scan.kind, ModbusScan::Kind::Answer);
    QCOMPARE(toBytes(scan.answer), text);
    QCOMPARE(toBytes(rx), QByteArray());
}

void TestModbusFrame::twoAnswersInOrder_data() {
    QTest::addColumn<int>("address");
    QTest::addColumn<QByteArray>("firstText");
    QTest::addColumn<QByteArray>("secondText");

    QTest::newRow("OK then version") << 1 << QByteArray("OK\r\n") << QByteArray("VER=1\r\n");
    QTest::newRow("same text twice") << 1 << QByteArray("OK\r\n") << QByteArray("OK\r\n");
    QTest::newRow("address 0") << 0 << QByteArray("DOWNLOAD\r\n") << QByteArray("OK\r\n");
    QTest::newRow("address 255") << 255 << QByteArray("OK\r\n") << QByteArray("ERR\r\n");
}

void TestModbusFrame::twoAnswersInOrder() {
    QFETCH(int, address);
    QFETCH(QByteArray, firstText);
    QFETCH(QByteArray, secondText);

    const QByteArray second = answerFrame(address, secondText);
    std::string rx = toStd(answerFrame(address, firstText) + second);

    const ModbusScan one = takeModbusAnswer(rx, std::uint8_t(address));
    QCOMPARE(one.kind, ModbusScan::Kind::Answer);
    QCOMPARE(toBytes(one.answer), firstText);
    QCOMPARE(toBytes(rx), second);

    const ModbusScan two = takeModbusAnswer(rx, std::uint8_t(address));
    QCOMPARE(two.kind, ModbusScan::Kind::Answer);
    QCOMPARE(toBytes(two.answer), secondText);
    QCOMPARE(toBytes(rx), QByteArray());

    QCOMPARE(takeModbusAnswer(rx, std::uint8_t(address)).kind, ModbusScan::Kind::Incomplete);
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
    QTest::newRow("letters, all at once") << QByteArray(3000, 'x') << 3000;
    QTest::newRow("letters, in chunks") << QByteArray(3000, 'x') << 97;
    QTest::newRow("address and marker repeated") << QByteArray("\x01"
                                                               "B")
                                                        .repeated(1500)
                                                 << 3000;
    QTest::newRow("address and marker repeated, in chunks") << QByteArray("\x01"
                                                                          "B")
                                                                   .repeated(1500)
                                                            << 61;
    QTest::newRow("frame starts repeated") << QByteArray("\x01"
                                                         "BER")
                                                  .repeated(700)
                                           << 50;
    QTest::newRow("pseudo-random bytes") << noise << 3000;
    QTest::newRow("pseudo-random bytes, in chunks") << noise << 40;
}

// Whatever arrives, the buffer is within the limit after every call, and a good frame that
// follows the garbage still gets through.
void TestModbusFrame::bufferStaysWithinLimit() {
    QFETCH(QByteArray, garbage);
    QFETCH(int, chunk);

    std::string rx;
    for (qsizetype at = 0; at < garbage.size(); at += chunk) {
        rx += toStd(garbage.mid(at, chunk));
        for (int guard = 0;; ++guard) {
            QVERIFY2(guard < 5000, "takeModbusAnswer keeps reporting without ever waiting");
            const ModbusScan scan = takeModbusAnswer(rx, 1);
            QVERIFY2(rx.size() <= kModbusBufferLimit, QByteArray::number(qulonglong(rx.size())));
            if (scan.kind == ModbusScan::Kind::Incomplete)
                break;
        }
    }

    rx += toStd(answerFrame(1, "OK\r\n"));
    QList<QByteArray> answers;
    for (int guard = 0;; ++guard) {
        QVERIFY2(guard < 5000, "takeModbusAnswer keeps reporting without ever waiting");
        const ModbusScan scan = takeModbusAnswer(rx, 1);
        QVERIFY2(rx.size() <= kModbusBufferLimit, QByteArray::number(qulonglong(rx.size())));
        if (scan.kind == ModbusScan::Kind::Incomplete)
            break;
        if (scan.kind == ModbusScan::Kind::Answer)
            answers.append(toBytes(scan.answer));
    }
    QVERIFY(!answers.isEmpty());
    QCOMPARE(answers.last(), QByteArray("OK\r\n"));
}

void TestModbusFrame::frameBehindLongGarbage_data() {
    QTest::addColumn<QByteArray>("garbage");

    QTest::newRow("letters") << QByteArray(400, 'x');
    QTest::newRow("address and marker repeated") << QByteArray("\x01"
                                                               "B")
                                                        .repeated(200);
    QTest::newRow("broken frames repeated") << QByteArray("\x01"
                                                          "BERR")
                                                   .repeated(80);
    QTest::newRow("just over the limit") << QByteArray(qsizetype(kModbusBufferLimit), 'x');
}

// Garbage and a good frame arrive in one read, together longer than the buffer may hold: the
// frame at the end still comes through.
void TestModbusFrame::frameBehindLongGarbage() {
    QFETCH(QByteArray, garbage);

    std::string rx = toStd(garbage + answerFrame(1, "OK\r\n"));
    QVERIFY(rx.size() > kModbusBufferLimit);
    QList<QByteArray> answers;
    for (int guard = 0;; ++guard) {
        QVERIFY2(guard < 5000, "takeModbusAnswer keeps reporting without ever waiting");
        const ModbusScan scan = takeModbusAnswer(rx, 1);
        QVERIFY2(rx.size() <= kModbusBufferLimit, QByteArray::number(qulonglong(rx.size())));
        if (scan.kind == ModbusScan::Kind::Incomplete)
            break;
        if (scan.kind == ModbusScan::Kind::Answer)
            answers.append(toBytes(scan.answer));
    }
    QCOMPARE(answers, QList<QByteArray>{QByteArray("OK\r\n")});
    QCOMPARE(toBytes(rx), QByteArray());
}

QTEST_APPLESS_MAIN(TestModbusFrame)
#include "tst_modbusframe.moc"
