// The CRC-16, commands framed for the line, and answers collected from what the port delivers:
// Modbus frames and the window's plain polls. (The flasher's answer lines are checked through the
// flasher.)
#include "Frames.h"
#include "pure/Crc16.h"
#include "pure/ModbusFrame.h"
#include "pure/PlainAnswer.h"

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
        if (rx.buffer().size() > kModbusBufferLimit) {
            reports << "<over the bound>";
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
        QTest::newRow("worked example") << L{ok} << QList{1} << L{"1:OK\r\n"} << QByteArray();
        QTest::newRow("one byte a read") << oneByOne << QList{1} << L{"1:OK\r\n"} << QByteArray();
        QTest::newRow("short buffer not examined")
            << L{"\x07XYZ"} << QList{1} << L{} << QByteArray("\x07XYZ");
        QTest::newRow("high bytes, address 255")
            << L{qbytes(answerFrame(255, hexBytes("FF00807F")))} << QList{255}
            << L{"255:" + QByteArray::fromHex("FF00807F")} << QByteArray();
        QTest::newRow("wrong address")
            << L{qbytes(answerFrame(2, "OK\r\n"))} << QList{1} << L{"<address>"} << QByteArray();
        QTest::newRow("wrong marker, then a frame")
            << L{qbytes(answerFrame(1, "OK\r\n", 'b')) + ok} << QList{1}
            << L{"<marker>", "1:OK\r\n"} << QByteArray();
        QTest::newRow("corrupt frame costs only itself")
            << L{corrupt, ok} << QList{1} << L{"1:OK\r\n"} << QByteArray();
        QTest::newRow("foreign frame skipped")
            << L{qbytes(answerFrame(9, "OK\r\n")) + ok} << QList{1} << L{"<address>", "1:OK\r\n"}
            << QByteArray();
        QTest::newRow("both awaited boards answer")
            << L{ok + qbytes(answerFrame(2, "VER=2\r\n"))} << QList{1, 2}
            << L{"1:OK\r\n", "2:VER=2\r\n"} << QByteArray();
        QTest::newRow("no address: only kept") << L{ok} << QList<int>{} << L{} << ok;
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

    // Each answer handed on as "poll:text"; an empty read is a quiet poll.
    void plainPolls_data() {
        QTest::addColumn<L>("reads");
        QTest::addColumn<L>("handedOn");
        const int q = kPlainQuietTicks;
        const auto quiet = [](int n) { return L(n, QByteArray()); };
        const auto at = [](int poll, const char *text) {
            return QByteArray::number(poll) + ':' + text;
        };
        QTest::newRow("two answers in one read") << L{"OK\r\nOK\r\n"} << L{at(0, "OK\r\nOK\r\n")};
        QTest::newRow("one character a poll") << L{"O", "K", "\r", "\n"} << L{at(3, "OK\r\n")};
        QTest::newRow("rest kept")
            << L{"OK\r\nDOW", "NLOAD\r\n"} << L{at(0, "OK\r\n"), at(1, "DOWNLOAD\r\n")};
        QTest::newRow("short line waits") << L{"OK\n", "OK\n"} << L{at(1, "OK\nOK\n")};
        QTest::newRow("keyword without line end, after quiet polls")
            << L{"VER=1"} + quiet(2 * q) << L{at(q, "VER=1")};
        QTest::newRow("characters restart the wait")
            << L{"VER="} + quiet(q - 1) + L{"1"} + quiet(q) << L{at(2 * q, "VER=1")};
        QTest::newRow("a pause inside a keyword")
            << L{"DOWN"} + quiet(3 * q) + L{"LOAD\r\n"} << L{at(3 * q + 1, "DOWNLOAD\r\n")};
        QTest::newRow("no keyword: waits for the line end")
            << L{"ABCD"} + quiet(3 * q) + L{"\n"} << L{at(3 * q + 1, "ABCD\n")};
    }

    void plainPolls() {
        QFETCH(L, reads);
        QFETCH(L, handedOn);
        PlainReceiver rx;
        L actual;
        for (int i = 0; i < reads.size(); ++i) {
            if (const auto answer = takePlainAnswer(rx, reads[i].toStdString())) {
                actual << QByteArray::number(i) + ':' + qbytes(*answer);
            }
        }
        QCOMPARE(actual, handedOn);
        // Characters that never end a line are handed on whole once they pass the bound.
        const std::string run(kPlainPendingLimit + 1, 'Z');
        QCOMPARE(takePlainAnswer(rx, run).value_or(""), run);
    }
};

QTEST_APPLESS_MAIN(TestReceivers)
#include "tst_receivers.moc"
