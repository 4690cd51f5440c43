#include "SimboardTesting.h"

#include "simboard/Bootloader.h"

#include <QTest>

using namespace simboard;
using namespace simboard::testing;

namespace {

const QByteArray kOk = QByteArray::fromHex("01424F4B0D0A9B90"); // 01 "B" "OK\r\n" CRC

} // namespace

class tst_modbus : public QObject {
    Q_OBJECT

private slots:
    void frames_data();
    void frames();
    void quietLineDropsUnfinishedFrame();
};

void tst_modbus::frames_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArrayList>("answers");

    std::string badCrc = frame(1, "BOOTi\r\n");
    badCrc.back() = static_cast<char>(badCrc.back() ^ 0x01);
    const QByteArray install = qbytes(frame(1, "BOOTg\r\n"));

    QTest::newRow("answer") << install << QByteArrayList{kOk};
    QTest::newRow("other address ignored")
        << qbytes(frame(2, "BOOTi\r\n")) + install << QByteArrayList{kOk};
    QTest::newRow("bad CRC ignored") << qbytes(badCrc) + install << QByteArrayList{kOk};
    QTest::newRow("resync after a frame without its CRC") << QByteArray("\x01"
                                                                        "BOOTi\r\n") +
                                                                 install
                                                          << QByteArrayList{kOk};
    // The answer to a new address still carries the old one; then only the new one counts.
    QTest::newRow("set address") << qbytes(frame(1, "BOOT$07\r\n") + frame(1, "BOOTi\r\n") +
                                           frame(7, "BOOTi\r\n"))
                                 << QByteArrayList{kOk, qbytes(frame(7, "BVER=4.1\r\n"))};
}

// The input is fed at once and byte by byte: the answers are the same.
void tst_modbus::frames() {
    QFETCH(QByteArray, input);
    QFETCH(QByteArrayList, answers);

    for (const bool byteByByte : {false, true}) {
        Bootloader board({.modbus = true});
        QByteArrayList received;
        const auto take = [&](std::string_view piece) {
            for (const Exchange &exchange : board.receive(piece)) {
                received << qbytes(exchange.answer);
            }
        };
        if (byteByByte) {
            for (const char byte : input) {
                take(std::string_view(&byte, 1));
            }
        } else {
            take(std::string_view(input.constData(), static_cast<std::size_t>(input.size())));
        }
        QCOMPARE(received, answers);
        QVERIFY(!board.inputPending());
    }
}

// Once the line went quiet, the CRC that comes late completes no frame.
void tst_modbus::quietLineDropsUnfinishedFrame() {
    const std::string whole = frame(1, "BOOTi\r\n");
    Bootloader board({.modbus = true});
    QVERIFY(board.receive(whole.substr(0, whole.size() - 2)).empty());
    board.dropInput();
    QVERIFY(board.receive(whole.substr(whole.size() - 2)).empty());
    QVERIFY(board.commands().empty());
}

QTEST_APPLESS_MAIN(tst_modbus)
#include "tst_modbus.moc"
