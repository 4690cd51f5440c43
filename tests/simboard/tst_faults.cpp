#include "SimboardTesting.h"

#include "protocol/Crc16.h"
#include "simboard/Faults.h"

#include <QStringList>
#include <QTest>

using namespace simboard;
using namespace simboard::testing;

Q_DECLARE_METATYPE(simboard::Faults)

namespace {

// Pieces as "pause in microseconds:bytes in hex", for comparisons that show what differs.
QStringList describe(const std::vector<Piece> &pieces) {
    QStringList items;
    for (const Piece &piece : pieces) {
        items << QStringLiteral("%1:%2")
                     .arg(piece.pauseBefore.count())
                     .arg(qbytes(piece.bytes).toHex());
    }
    return items;
}

QString item(long long pauseUs, const QByteArray &bytes) {
    return QStringLiteral("%1:%2").arg(pauseUs).arg(bytes.toHex());
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
};

void tst_faults::shapesAnswers_data() {
    QTest::addColumn<Faults>("faults");
    QTest::addColumn<QStringList>("pieces");

    const QByteArray noise = qbytes(noiseBytes());
    QTest::newRow("no fault") << Faults{} << QStringList{item(0, "ERROR\r\n")};
    QTest::newRow("split") << Faults{.splitAnswers = true}
                           << QStringList{item(0, "ERR"), item(45000, "OR\r\n")};
    QTest::newRow("trickle split")
        << Faults{.splitAnswers = true, .trickle = true, .trickleDelayUs = 300}
        << QStringList{item(0, "E"),   item(300, "R"),  item(300, "R"), item(45000, "O"),
                       item(300, "R"), item(300, "\r"), item(300, "\n")};
    QTest::newRow("garbage") << Faults{.garbageBefore = true}
                             << QStringList{item(0, noise + "ERROR\r\n")};
    QTest::newRow("plain answers carry no CRC to corrupt")
        << Faults{.corruptCrcEvery = 1} << QStringList{item(0, "ERROR\r\n")};
}

void tst_faults::shapesAnswers() {
    QFETCH(Faults, faults);
    QFETCH(QStringList, pieces);

    QCOMPARE(describe(shapeAnswer("ERROR\r\n", false, faults, 1)), pieces);
}

void tst_faults::corruptsEveryNthCrc_data() {
    QTest::addColumn<unsigned>("every");
    QTest::addColumn<QList<bool>>("corrupted");

    QTest::newRow("never") << 0U << QList<bool>{false, false, false, false};
    QTest::newRow("every second") << 2U << QList<bool>{false, true, false, true};
}

void tst_faults::corruptsEveryNthCrc() {
    QFETCH(unsigned, every);
    QFETCH(QList<bool>, corrupted);

    const std::string good = frame(1, "BOK\r\n");
    QList<bool> found;
    for (std::uint64_t number = 1; number <= 4; ++number) {
        const auto pieces = shapeAnswer(good, true, {.corruptCrcEvery = every}, number);
        QCOMPARE(pieces.size(), std::size_t{1});
        const std::string &sent = pieces[0].bytes;
        QCOMPARE(qbytes(sent).chopped(2), qbytes(good).chopped(2));
        found << (quenta::CRC16(std::string_view(sent).substr(0, sent.size() - 2)) !=
                  sent.substr(sent.size() - 2));
    }
    QCOMPARE(found, corrupted);
}

// The program must not take noise for an answer or a piece of one.
void tst_faults::noiseHoldsNoAnswer() {
    const std::string noise = noiseBytes();
    QVERIFY(!noise.empty());
    QCOMPARE(noise.find_first_of("\r\n"), std::string::npos);
    for (const char *keyword : {"OK", "ERROR", "DOWNLOAD", "VER="}) {
        QVERIFY2(noise.find(keyword) == std::string::npos, keyword);
    }
}

QTEST_APPLESS_MAIN(tst_faults)
#include "tst_faults.moc"
