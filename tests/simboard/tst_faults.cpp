#include "SimboardTesting.h"

#include "link/ModbusFrame.h"
#include "link/PlainAnswer.h"
#include "protocol/Crc16.h"
#include "simboard/Faults.h"

#include <QTest>

using namespace simboard;
using namespace simboard::testing;

Q_DECLARE_METATYPE(simboard::Faults)

namespace {

// Pieces as "pause in microseconds:bytes", for comparisons that show what differs.
QStringList describe(const std::vector<Piece> &pieces) {
    QStringList items;
    for (const Piece &piece : pieces) {
        items << QStringLiteral("%1:%2")
                     .arg(piece.pauseBefore.count())
                     .arg(QString::fromLatin1(qbytes(piece.bytes).toHex()));
    }
    return items;
}

QString item(long long pauseUs, const QByteArray &bytes) {
    return QStringLiteral("%1:%2").arg(pauseUs).arg(QString::fromLatin1(bytes.toHex()));
}

std::string joined(const std::vector<Piece> &pieces) {
    std::string bytes;
    for (const Piece &piece : pieces) {
        bytes += piece.bytes;
    }
    return bytes;
}

} // namespace

class tst_faults : public QObject {
    Q_OBJECT

private slots:
    void shapesAnswers_data();
    void shapesAnswers();
    void corruptsEveryNthCrc_data();
    void corruptsEveryNthCrc();
    void noiseHoldsNoAnswer();
    void programFindsAnswersBehindNoise_data();
    void programFindsAnswersBehindNoise();
};

void tst_faults::shapesAnswers_data() {
    QTest::addColumn<Faults>("faults");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QStringList>("pieces");

    QTest::newRow("no fault") << Faults{} << QByteArray("OK\r\n") << QStringList{item(0, "OK\r\n")};
    QTest::newRow("silent is not shaped here")
        << Faults{.silent = true} << QByteArray("OK\r\n") << QStringList{item(0, "OK\r\n")};
    QTest::newRow("split") << Faults{.splitAnswers = true} << QByteArray("ERROR\r\n")
                           << QStringList{item(0, "ERR"), item(45000, "OR\r\n")};
    QTest::newRow("split with its own pause")
        << Faults{.splitAnswers = true, .splitDelayMs = 7} << QByteArray("OK\r\n")
        << QStringList{item(0, "OK"), item(7000, "\r\n")};
    QTest::newRow("trickle") << Faults{.trickle = true} << QByteArray("OK\r\n")
                             << QStringList{item(0, "O"), item(1042, "K"), item(1042, "\r"),
                                            item(1042, "\n")};
    QTest::newRow("trickle at its own pace")
        << Faults{.trickle = true, .trickleDelayUs = 300} << QByteArray("OK\r\n")
        << QStringList{item(0, "O"), item(300, "K"), item(300, "\r"), item(300, "\n")};
    QTest::newRow("trickle split")
        << Faults{.splitAnswers = true, .trickle = true} << QByteArray("OK\r\n")
        << QStringList{item(0, "O"), item(1042, "K"), item(45000, "\r"), item(1042, "\n")};
    QTest::newRow("garbage") << Faults{.garbageBefore = true} << QByteArray("OK\r\n")
                             << QStringList{item(0, qbytes(noiseBytes()) + "OK\r\n")};
    QTest::newRow("split garbage")
        << Faults{.splitAnswers = true, .garbageBefore = true} << QByteArray("OK\r\n")
        << QStringList{item(0, qbytes(noiseBytes())), item(45000, "OK\r\n")};
    QTest::newRow("plain answers carry no CRC to corrupt")
        << Faults{.corruptCrcEvery = 1} << QByteArray("OK\r\n") << QStringList{item(0, "OK\r\n")};
}

void tst_faults::shapesAnswers() {
    QFETCH(Faults, faults);
    QFETCH(QByteArray, answer);
    QFETCH(QStringList, pieces);

    QCOMPARE(describe(shapeAnswer(bytes(answer), false, faults, 1)), pieces);
}

void tst_faults::corruptsEveryNthCrc_data() {
    QTest::addColumn<unsigned>("every");
    QTest::addColumn<QList<bool>>("corrupted");

    QTest::newRow("never") << 0U << QList<bool>{false, false, false, false};
    QTest::newRow("every answer") << 1U << QList<bool>{true, true, true, true};
    QTest::newRow("every second") << 2U << QList<bool>{false, true, false, true};
    QTest::newRow("every third") << 3U << QList<bool>{false, false, true, false};
}

void tst_faults::corruptsEveryNthCrc() {
    QFETCH(unsigned, every);
    QFETCH(QList<bool>, corrupted);

    const std::string frame = quenta::modbusFrame(1, "BOK\r\n");
    const Faults faults{.corruptCrcEvery = every};
    QList<bool> found;
    for (std::uint64_t number = 1; number <= 4; ++number) {
        const std::string sent = joined(shapeAnswer(frame, true, faults, number));
        QCOMPARE(sent.size(), frame.size());
        QCOMPARE(qbytes(sent).chopped(2), qbytes(frame).chopped(2));
        const std::string_view body = std::string_view(sent).substr(0, sent.size() - 2);
        found << (quenta::CRC16(body) != sent.substr(sent.size() - 2));
    }
    QCOMPARE(found, corrupted);
}

void tst_faults::noiseHoldsNoAnswer() {
    const std::string noise = noiseBytes();
    QVERIFY(!noise.empty());
    QCOMPARE(noise.find_first_of("\r\n"), std::string::npos);
    for (const char *keyword : {"OK", "ERROR", "DOWNLOAD", "VER=", "FORMAT"}) {
        QVERIFY2(noise.find(keyword) == std::string::npos, keyword);
    }
}

void tst_faults::programFindsAnswersBehindNoise_data() {
    QTest::addColumn<int>("address");

    QTest::newRow("address 01") << 0x01;
    for (const char byte : noiseBytes()) {
        const auto address = static_cast<unsigned char>(byte);
        if (address != 0) {
            QTest::addRow("address %02X, a noise byte", address) << int{address};
        }
    }
}

// The program's Modbus receiver skips the noise and takes the frame behind it, even where the noise
// holds the address byte; its plain receiver hands on noise and answer together, keyword intact.
void tst_faults::programFindsAnswersBehindNoise() {
    QFETCH(int, address);

    const auto addr = static_cast<std::uint8_t>(address);
    const Faults faults{.garbageBefore = true};
    std::string buffer = joined(shapeAnswer(quenta::modbusFrame(addr, "BOK\r\n"), true, faults, 1));
    QVERIFY(buffer.size() > 8);
    quenta::ModbusScan scan = quenta::takeModbusAnswer(buffer, addr);
    while (scan.kind != quenta::ModbusScan::Kind::Incomplete &&
           scan.kind != quenta::ModbusScan::Kind::Answer) {
        scan = quenta::takeModbusAnswer(buffer, addr);
    }
    QCOMPARE(scan.kind, quenta::ModbusScan::Kind::Answer);
    QCOMPARE(qbytes(scan.answer), QByteArray("OK\r\n"));
    QVERIFY(buffer.empty());

    quenta::PlainReceiver receiver;
    const auto answer =
        quenta::takePlainAnswer(receiver, joined(shapeAnswer("OK\r\n", false, faults, 1)));
    QVERIFY(answer);
    QVERIFY(answer->ends_with("OK\r\n"));
}

QTEST_APPLESS_MAIN(tst_faults)
#include "tst_faults.moc"
