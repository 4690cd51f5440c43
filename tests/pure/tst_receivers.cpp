// The CRC-16, commands framed for the line, and answers collected from what the port delivers:
// Modbus frames and plain lines, with where and when each began.
#include "Frames.h"
#include "pure/AnswerReader.h"
#include "pure/Crc16.h"
#include "pure/ModbusFrame.h"

#include <QTest>

using namespace quenta;
using namespace quenta::testing;
using L = QList<QByteArray>;

namespace {
const std::string kOk = hexBytes("01424F4B0D0A9B90"); // "OK" + CR LF from address 1

// Everything the reads complete: answers as "address:text", errors in brackets.
L collect(ModbusReceiver &rx, const L &reads, const AddressSet &accepted) {
    L reports;
    for (const QByteArray &read : reads) {
        for (const ModbusEvent &e : rx.take(read.toStdString(), accepted)) {
            reports << (e.kind == ModbusEvent::Kind::Answer
                            ? QByteArray::number(e.address) + ':' + qbytes(e.answer)
                            : QByteArray(e.kind == ModbusEvent::Kind::AddressError ? "<address>"
                                                                                   : "<marker>"));
        }
    }
    return reports;
}
} // namespace

class TestReceivers : public QObject {
    Q_OBJECT
private slots:
    // The CRC-16 against its published check values, and worked examples of command frames.
    void commandFrames() {
        QCOMPARE(CRC16("123456789"), hexBytes("374B"));
        QCOMPARE(CRC16(std::string(1, '\0')), hexBytes("BF40"));
        QCOMPARE(CRC16(hexBytes("80FF7F81C0FE")) + CRC16("dAl") + CRC16("ach"),
                 hexBytes("93B3 0062 0900"));
        QCOMPARE(frameCommand("BOOTi\r\n", 1), hexBytes("01424F4F54690D0AFC89"));
        QCOMPARE(frameCommand("BOOTi\r\n", 0), hexBytes("00424F4F54690D0A3D45"));
        QCOMPARE(frameCommand("BOOTi\r\n", std::nullopt), std::string("BOOTi\r\n"));
    }

    void modbus_data() {
        QTest::addColumn<L>("reads");
        QTest::addColumn<QList<int>>("accepted");
        QTest::addColumn<L>("reports");
        QTest::addColumn<QByteArray>("left");
        const QByteArray ok = qbytes(kOk);
        QByteArray corrupt = ok;
        corrupt.back() = char(corrupt.back() ^ 0x55);
        L oneByOne;
        for (char c : ok) {
            oneByOne << QByteArray(1, c);
        }
        const auto row = [](const char *name, const L &reads, const QList<int> &accepted,
                            const L &reports, const QByteArray &left = {}) {
            QTest::newRow(name) << reads << accepted << reports << left;
        };
        const auto frame = [](std::uint8_t address, std::string_view text, char marker = 'B') {
            return qbytes(answerFrame(address, text, marker));
        };
        row("one byte a read", oneByOne, {1}, {"1:OK\r\n"});
        row("short buffer not examined", {"\x07XYZ"}, {1}, {}, "\x07XYZ");
        row("high bytes, address 255", {frame(255, hexBytes("FF00807F0D0A"))}, {255},
            {"255:" + QByteArray::fromHex("FF00807F0D0A")});
        // CRC-16 of 11 42 4F 4B 0D ("\x11BOK\r") is 990A: its LF and the first CRC byte look
        // like its CRC.
        row("a line end that closes a CRC ends no frame",
            {frame(0x11, "OK\r\n") + frame(0x11, "ERROR\r\n", 'b')}, {0x11},
            {"17:OK\r\n", "<marker>"});
        // Address 10 is a LF: the line end of another board's frame, cut off from its CRC by a
        // read, looks like the start of a frame until the next read.
        row("a byte like the address is no frame of the board's",
            {frame(11, "OK\r\n").left(6), frame(11, "OK\r\n").mid(6) + frame(10, "OK\r\n")}, {10},
            {"<address>", "<address>", "10:OK\r\n"});
        row("wrong marker, in pieces",
            {frame(1, "OK\r\n", 'b').left(4), frame(1, "OK\r\n", 'b').mid(4)}, {1}, {"<marker>"});
        row("a frame ends at its line end and CRC only", {frame(1, "OK") + ok}, {1}, {"1:OK\r\n"});
        row("wrong marker, then a frame", {frame(1, "OK\r\n", 'b') + ok}, {1},
            {"<marker>", "1:OK\r\n"});
        row("corrupt frame costs only itself", {corrupt, ok}, {1}, {"1:OK\r\n"});
        row("foreign frame skipped", {frame(9, "OK\r\n") + ok}, {1}, {"<address>", "1:OK\r\n"});
        row("both awaited boards answer", {ok + frame(2, "VER=2\r\n")}, {1, 2},
            {"1:OK\r\n", "2:VER=2\r\n"});
        row("no address: only kept", {ok}, {}, {}, ok);
    }

    void modbus() {
        QFETCH(L, reads);
        QFETCH(QList<int>, accepted);
        QFETCH(L, reports);
        QFETCH(QByteArray, left);
        AddressSet set;
        for (int a : accepted) {
            set.set(std::size_t(a));
        }
        ModbusReceiver rx;
        QCOMPARE(collect(rx, reads, set), reports);
        QCOMPARE(qbytes(rx.buffer()), left);
    }

    // Each frame is judged by the addresses as the frame before left them.
    void modbusSetChangedBetweenFrames() {
        ModbusReceiver rx;
        AddressSet accepted;
        accepted.set(3);
        accepted.set(5);
        L seen;
        const std::string read = answerFrame(5, "VER=5\r\n") + answerFrame(3, "VER=3\r\n");
        rx.take(read, accepted, [&](ModbusEvent e) {
            seen << (e.kind == ModbusEvent::Kind::Answer
                         ? QByteArray::number(e.address) + '@' + QByteArray::number(qint64(e.begin))
                         : QByteArray("<address>"));
            accepted.reset(3); // the first board found ends the search
        });
        QCOMPARE(seen, (L{"5@0", "<address>"}));
        QCOMPARE(rx.position(), quint64(read.size()));
    }

    // Lines at CR or LF, whatever the reads; each with the position of its first character.
    void lines_data() {
        QTest::addColumn<L>("reads");
        QTest::addColumn<L>("lines"); // "begin:text", "!" after an overlong one
        QTest::newRow("two in one read") << L{"OK\r\nOK\r\n"} << L{"0:OK", "4:OK"};
        QTest::newRow("one character a read") << L{"O", "K", "\r", "\n"} << L{"0:OK"};
        QTest::newRow("rest kept") << L{"OK\r\nDOW", "NLOAD\n"} << L{"0:OK", "4:DOWNLOAD"};
        QTest::newRow("empty lines are none") << L{"\r\n\n\rVER=1\n"} << L{"4:VER=1"};
        QTest::newRow("no line end, no line") << L{"ERROR"} << L{};
        const QByteArray flood(int(kLineLimit) + 5, 'Z');
        QTest::newRow("overlong") << L{flood, "\nOK\n"}
                                  << L{"0:" + flood.left(int(kLineLimit)) + "!",
                                       QByteArray::number(int(kLineLimit) + 6) + ":OK"};
    }
    void lines() {
        QFETCH(L, reads);
        QFETCH(L, lines);
        AnswerLines rx;
        L actual;
        for (const QByteArray &read : reads) {
            for (const Line &line : rx.take(read.toStdString())) {
                actual << QByteArray::number(qint64(line.begin)) + ':' + qbytes(line.text) +
                              (line.overlong ? "!" : "");
            }
        }
        QCOMPARE(actual, lines);
    }

    // An answer begins at its first keyword (plain) or its frame (Modbus); what holds no keyword
    // is unreadable. An answer that never gets its line end (plain, four characters or more with
    // a keyword) or whose frame carries none (Modbus) is taken once the line is quiet, not before.
    void answerBeginnings_data() {
        QTest::addColumn<bool>("modbus");
        QTest::addColumn<L>("reads");   // an empty read: the line is quiet
        QTest::addColumn<L>("answers"); // "text@begin"
        QTest::addColumn<int>("unreadable");
        const QByteArray ok = qbytes(answerFrame(7, "OK")); // the shortest frame: 6 characters
        QTest::newRow("noise before the keyword")
            << false << L{"#x", "yOK\r\n"} << L{"#xyOK@3"} << 0;
        QTest::newRow("keyword in pieces")
            << false << L{"DO", "WNLOAD", "\r\n"} << L{"DOWNLOAD@0"} << 0;
        QTest::newRow("a stray keyword before another")
            << false << L{"OK", "DOWNLOAD\n"} << L{"OKDOWNLOAD@0"} << 0;
        QTest::newRow("noise line") << false << L{"abc\nOK\n"} << L{"OK@4"} << 1;
        QTest::newRow("frames in pieces")
            << true
            << L{qbytes(answerFrame(7, "OK\r\n")).left(3),
                 qbytes(answerFrame(7, "OK\r\n")).mid(3) + qbytes(answerFrame(7, "E\r\n"))}
            << L{"OK\r\n@0", "E\r\n@8"} << 0;
        QTest::newRow("marker error")
            << true << L{qbytes(answerFrame(7, "OK\r\n", 'b'))} << L{} << 1;
        QTest::newRow("no line end: taken when quiet")
            << false << L{"xDOWNLOAD", ""} << L{"xDOWNLOAD@1"} << 0;
        QTest::newRow("no line end, three characters: none") << false << L{"OK ", ""} << L{} << 0;
        QTest::newRow("no line end, no keyword: none") << false << L{"DOWNL", ""} << L{} << 0;
        QTest::newRow("frame without CR LF: not before the quiet") << true << L{ok} << L{} << 0;
        QTest::newRow("frame without CR LF, then quiet") << true << L{ok, ""} << L{"OK@0"} << 0;
        QTest::newRow("two frames without CR LF, then quiet")
            << true << L{ok + qbytes(answerFrame(7, "VER=4")), ""} << L{"OK@0", "VER=4@6"} << 0;
        QTest::newRow("another board's frame without CR LF")
            << true << L{qbytes(answerFrame(9, "OK")), ""} << L{} << 0;
    }
    void answerBeginnings() {
        QFETCH(bool, modbus);
        QFETCH(L, reads);
        QFETCH(L, answers);
        QFETCH(int, unreadable);
        AnswerReader reader(modbus);
        AddressSet seven;
        seven.set(7);
        reader.accept(seven);
        L actual;
        int unread = 0;
        for (const QByteArray &read : reads) {
            const Reading reading =
                read.isEmpty() ? reader.flush() : reader.take(read.toStdString());
            for (const Answer &a : reading.answers) {
                actual << qbytes(a.text) + '@' + QByteArray::number(qint64(a.begin));
            }
            unread += reading.unreadable;
        }
        QCOMPARE(actual, answers);
        QCOMPARE(unread, unreadable);
    }
};

QTEST_APPLESS_MAIN(TestReceivers)
#include "tst_receivers.moc"
