// Commands framed for the line, and answers collected from what the port delivers: Modbus frames,
// the window's plain polls and the flasher's answer lines.
#include "Frames.h"
#include "pure/ModbusFrame.h"
#include "pure/PlainAnswer.h"

#include <QTest>

using namespace quenta;
using namespace quenta::testing;
using L = QList<QByteArray>;

namespace {
const std::string kOk = hexBytes("01424F4B0D0A9B90"); // "OK" + CR LF from address 1

AddressSet addresses(std::initializer_list<int> list) {
    AddressSet set;
    for (int a : list) {
        set.set(std::size_t(a));
    }
    return set;
}

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
    void commandFrames();
    void modbus_data();
    void modbus();
    void modbusBounded();
    void plainPolls_data();
    void plainPolls();
    void answerLines();
};

void TestReceivers::commandFrames() {
    QCOMPARE(frameCommand("BOOTi\r\n", 1), hexBytes("01424F4F54690D0AFC89"));
    QCOMPARE(frameCommand("BOOTi\r\n", 0), hexBytes("00424F4F54690D0A3D45"));
    QCOMPARE(frameCommand("BOOTi\r\n", std::nullopt), std::string("BOOTi\r\n"));
}

void TestReceivers::modbus_data() {
    QTest::addColumn<L>("reads");
    QTest::addColumn<QList<int>>("accepted");
    QTest::addColumn<L>("reports");
    QTest::addColumn<QByteArray>("left");
    const QByteArray ok = qbytes(kOk);
    const QByteArray ver = qbytes(answerFrame(1, "VER=4.1\r\n"));
    QByteArray corrupt = ok;
    corrupt.back() = char(corrupt.back() ^ 0x55);
    L oneByOne;
    for (char c : ok) {
        oneByOne << QByteArray(1, c);
    }
    QTest::newRow("worked example") << L{ok} << QList{1} << L{"1:OK\r\n"} << QByteArray();
    QTest::newRow("one byte a read") << oneByOne << QList{1} << L{"1:OK\r\n"} << QByteArray();
    QTest::newRow("first 7 bytes, then the rest")
        << L{ver.left(7), ver.mid(7)} << QList{1} << L{"1:VER=4.1\r\n"} << QByteArray();
    QTest::newRow("short buffer not examined")
        << L{"\x07XYZ"} << QList{1} << L{} << QByteArray("\x07XYZ");
    QTest::newRow("high bytes, address 255")
        << L{qbytes(answerFrame(255, hexBytes("FF00807F")))} << QList{255}
        << L{"255:" + QByteArray::fromHex("FF00807F")} << QByteArray();
    QTest::newRow("wrong address")
        << L{qbytes(answerFrame(2, "OK\r\n"))} << QList{1} << L{"<address>"} << QByteArray();
    QTest::newRow("wrong marker, then a frame")
        << L{qbytes(answerFrame(1, "OK\r\n", 'b')) + ok} << QList{1} << L{"<marker>", "1:OK\r\n"}
        << QByteArray();
    QTest::newRow("noise before a frame")
        << L{"xyz" + ok} << QList{1} << L{"<address>", "1:OK\r\n"} << QByteArray();
    QTest::newRow("corrupt frame costs only itself")
        << L{corrupt, ok} << QList{1} << L{"1:OK\r\n"} << QByteArray();
    QTest::newRow("foreign frame skipped") << L{qbytes(answerFrame(9, "OK\r\n")) + ok} << QList{1}
                                           << L{"<address>", "1:OK\r\n"} << QByteArray();
    QTest::newRow("both awaited boards answer")
        << L{ok + qbytes(answerFrame(2, "VER=2\r\n"))} << QList{1, 2}
        << L{"1:OK\r\n", "2:VER=2\r\n"} << QByteArray();
    QTest::newRow("no address: only kept") << L{ok} << QList<int>{} << L{} << ok;
}

void TestReceivers::modbus() {
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

// Whatever arrives, the buffer stays within its bound and a good frame behind it gets through.
void TestReceivers::modbusBounded() {
    QByteArray noise;
    quint32 state = 12345;
    for (int i = 0; i < 3000; ++i) {
        state = state * 1103515245u + 12345u;
        noise.append(char((state >> 16) & 0xFF));
    }
    for (const QByteArray &garbage : {QByteArray::fromHex("0142").repeated(1500), noise}) {
        ModbusReceiver rx;
        L reads;
        for (qsizetype at = 0; at < garbage.size(); at += 40) {
            reads << garbage.mid(at, 40);
        }
        QVERIFY(collect(rx, reads, {}).isEmpty()); // no address: nothing examined, all bounded
        const L reports = collect(rx, reads << qbytes(kOk), addresses({1}));
        QVERIFY(!reports.contains("<over the bound>"));
        QCOMPARE(reports.last(), QByteArray("1:OK\r\n"));
    }
}

// Each answer handed on as "poll:text"; an empty read is a quiet poll.
void TestReceivers::plainPolls_data() {
    QTest::addColumn<L>("reads");
    QTest::addColumn<L>("handedOn");
    const int q = kPlainQuietTicks;
    const auto quiet = [](int n) { return L(n, QByteArray()); };
    const auto at = [](int poll, const char *text) {
        return QByteArray::number(poll) + ':' + text;
    };
    QTest::newRow("two answers in one read") << L{"OK\r\nOK\r\n"} << L{at(0, "OK\r\nOK\r\n")};
    QTest::newRow("one character a poll") << L{"O", "K", "\r", "\n"} << L{at(3, "OK\r\n")};
    QTest::newRow("rest kept") << L{"OK\r\nDOW", "NLOAD\r\n"}
                               << L{at(0, "OK\r\n"), at(1, "DOWNLOAD\r\n")};
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

void TestReceivers::plainPolls() {
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

void TestReceivers::answerLines() {
    AnswerLines rx;
    std::vector<std::string> answers;
    for (const char *read : {"\xA5~?OK", "\r\n\r\nnoise\nVER=", "4.1\r", "\nDOWN", "LOAD\n"}) {
        for (std::string &a : rx.take(read)) {
            answers.push_back(std::move(a));
        }
    }
    QCOMPARE(answers, (std::vector<std::string>{"\xA5~?OK", "VER=4.1", "DOWNLOAD"}));
    QVERIFY(rx.take(std::string(kPlainPendingLimit + 1, 'K') + "OK\n").empty());
}

QTEST_APPLESS_MAIN(TestReceivers)
#include "tst_receivers.moc"
