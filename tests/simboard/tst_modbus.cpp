#include "SimboardTesting.h"

#include "link/ModbusFrame.h"
#include "protocol/Crc16.h"
#include "simboard/Bootloader.h"

#include <QTest>

using namespace simboard;
using namespace simboard::testing;

namespace {

std::string frame(std::uint8_t address, std::string_view text) {
    return quenta::modbusFrame(address, text);
}

Bootloader modbusBoard(std::uint8_t address = 1) {
    return Bootloader({.modbus = true, .address = address});
}

// Every command line the exchanges carry.
QByteArrayList commandsOf(const std::vector<Exchange> &exchanges) {
    QByteArrayList commands;
    for (const Exchange &exchange : exchanges) {
        commands << qbytes(exchange.command);
    }
    return commands;
}

} // namespace

class tst_modbus : public QObject {
    Q_OBJECT

private slots:
    void framesTheAnswer();
    void answersInFrames_data();
    void answersInFrames();
    void ignoresOtherAddresses();
    void ignoresBadCrc();
    void resynchronises_data();
    void resynchronises();
    void takesFramesByteByByte();
    void takesTwoFramesAtOnce();
    void needsTheLineEnd();
    void quietLineDropsPartialFrame();
    void answersNewAddressWithOldOne();
};

void tst_modbus::framesTheAnswer() {
    Bootloader board = modbusBoard();
    const auto exchanges = board.receive(frame(1, "BOOTg\r\n"));
    QCOMPARE(exchanges.size(), std::size_t{1});
    QCOMPARE(qbytes(exchanges[0].answer), QByteArray::fromHex("01424F4B0D0A9B90"));
}

void tst_modbus::answersInFrames_data() {
    QTest::addColumn<int>("address");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("info") << 1 << QByteArray("BOOTi\r\n") << QByteArray("VER=4.1\r\n");
    QTest::newRow("version query") << 0x11 << QByteArray("VER\r\n") << QByteArray("VER=4.1\r\n");
    QTest::newRow("download") << 0x0D << QByteArray("BOOT:01001000559A\r\n")
                              << QByteArray("OK\r\n");
    QTest::newRow("end of file") << 0xFF << QByteArray("BOOT:00000001FF\r\n")
                                 << QByteArray("DOWNLOAD\r\n");
    QTest::newRow("unknown") << 0x42 << QByteArray("BOOTq\r\n") << QByteArray("ERROR\r\n");
}

void tst_modbus::answersInFrames() {
    QFETCH(int, address);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, text);

    const auto addr = static_cast<std::uint8_t>(address);
    Bootloader board = modbusBoard(addr);
    const auto exchanges = board.receive(frame(addr, bytes(command)));
    QCOMPARE(exchanges.size(), std::size_t{1});
    QCOMPARE(qbytes(exchanges[0].command), command);
    const std::string answer = exchanges[0].answer;
    QCOMPARE(static_cast<std::uint8_t>(answer[0]), addr);
    QCOMPARE(answer[1], 'B');
    QCOMPARE(qbytes(answer).mid(2, answer.size() - 4), text);
    const std::string_view body = std::string_view(answer).substr(0, answer.size() - 2);
    QCOMPARE(qbytes(answer.substr(answer.size() - 2)), qbytes(quenta::CRC16(body)));

    // The program's own receiver takes it as the answer.
    std::string buffer = answer;
    const quenta::ModbusScan scan = quenta::takeModbusAnswer(buffer, addr);
    QCOMPARE(scan.kind, quenta::ModbusScan::Kind::Answer);
    QCOMPARE(qbytes(scan.answer), text);
}

void tst_modbus::ignoresOtherAddresses() {
    Bootloader board = modbusBoard(5);
    QVERIFY(board.receive(frame(1, "BOOTi\r\n")).empty());
    QVERIFY(board.receive(frame(6, "BOOTg\r\n")).empty());
    QVERIFY(board.commands().empty());
    const auto exchanges = board.receive(frame(5, "BOOTi\r\n"));
    QCOMPARE(commandsOf(exchanges), QByteArrayList{"BOOTi\r\n"});
    QCOMPARE(board.commands().size(), std::size_t{1});
}

void tst_modbus::ignoresBadCrc() {
    Bootloader board = modbusBoard();
    std::string broken = frame(1, "BOOTg\r\n");
    broken.back() = static_cast<char>(broken.back() ^ 0x01);
    QVERIFY(board.receive(broken).empty());
    QVERIFY(board.commands().empty());
    const auto exchanges = board.receive(frame(1, "BOOTi\r\n"));
    QCOMPARE(commandsOf(exchanges), QByteArrayList{"BOOTi\r\n"});
}

void tst_modbus::resynchronises_data() {
    QTest::addColumn<QByteArray>("before");

    QTest::newRow("noise") << QByteArray("\xA5~?", 3);
    QTest::newRow("noise with a line end") << QByteArray("xx\r\nyy");
    QTest::newRow("the address byte") << QByteArray("\x01");
    QTest::newRow("a frame cut short") << QByteArray("\x01"
                                                     "BOOT");
    QTest::newRow("a frame without its CRC") << QByteArray("\x01"
                                                           "BOOTi\r\n");
    QTest::newRow("a frame with a bad CRC")
        << qbytes(frame(1, "BOOTi\r\n")).chopped(1).append('\0');
    QTest::newRow("a frame for another address") << qbytes(frame(2, "BOOTi\r\n"));
    QTest::newRow("a long run of noise") << QByteArray(3000, 'z');
    QTest::newRow("a long run of line ends") << QByteArray("\r\n").repeated(1500);
    QTest::newRow("line ends after address bytes") << QByteArray("\x01\r\n").repeated(1000);
}

void tst_modbus::resynchronises() {
    QFETCH(QByteArray, before);

    Bootloader board = modbusBoard();
    auto exchanges = board.receive(bytes(before));
    const auto more = board.receive(frame(1, "BOOTg\r\n"));
    exchanges.insert(exchanges.end(), more.begin(), more.end());
    QCOMPARE(commandsOf(exchanges), QByteArrayList{"BOOTg\r\n"});
    QCOMPARE(qbytes(exchanges[0].answer), QByteArray::fromHex("01424F4B0D0A9B90"));
    QVERIFY(!board.inputPending());
}

void tst_modbus::takesFramesByteByByte() {
    Bootloader board = modbusBoard();
    const std::string whole = frame(1, "BOOT:100000000C9434000C9446000C9446000C9446006A\r\n");
    for (std::size_t i = 0; i + 1 < whole.size(); ++i) {
        QVERIFY(board.receive(whole.substr(i, 1)).empty());
    }
    const auto exchanges = board.receive(whole.substr(whole.size() - 1));
    QCOMPARE(exchanges.size(), std::size_t{1});
    QCOMPARE(qbytes(exchanges[0].answer), qbytes(frame(1, "BOK\r\n")));
}

void tst_modbus::takesTwoFramesAtOnce() {
    Bootloader board = modbusBoard();
    const auto exchanges = board.receive(frame(1, "BOOTi\r\n") + frame(1, "BOOTg\r\n"));
    QCOMPARE(commandsOf(exchanges), (QByteArrayList{"BOOTi\r\n", "BOOTg\r\n"}));
    QCOMPARE(board.commands(), (std::vector<std::string>{"BOOTi\r\n", "BOOTg\r\n"}));
}

void tst_modbus::needsTheLineEnd() {
    Bootloader board = modbusBoard();
    QVERIFY(board.receive(frame(1, "BOOTi")).empty());
    QVERIFY(board.inputPending());
    board.dropInput();
    const auto exchanges = board.receive(frame(1, "BOOTg\r\n"));
    QCOMPARE(commandsOf(exchanges), QByteArrayList{"BOOTg\r\n"});
}

void tst_modbus::quietLineDropsPartialFrame() {
    const std::string whole = frame(1, "BOOTi\r\n");
    const std::string head = whole.substr(0, whole.size() - 2);
    const std::string crc = whole.substr(whole.size() - 2);

    Bootloader kept = modbusBoard();
    QVERIFY(kept.receive(head).empty());
    QCOMPARE(kept.receive(crc).size(), std::size_t{1});

    Bootloader dropped = modbusBoard();
    QVERIFY(dropped.receive(head).empty());
    dropped.dropInput();
    QVERIFY(dropped.receive(crc).empty());
    QVERIFY(dropped.commands().empty());
}

void tst_modbus::answersNewAddressWithOldOne() {
    Bootloader board = modbusBoard(1);
    auto exchanges = board.receive(frame(1, "BOOT$07\r\n"));
    QCOMPARE(exchanges.size(), std::size_t{1});
    QCOMPARE(qbytes(exchanges[0].answer), QByteArray::fromHex("01424F4B0D0A9B90"));
    QCOMPARE(board.address(), std::uint8_t{7});

    QVERIFY(board.receive(frame(1, "BOOTi\r\n")).empty());
    exchanges = board.receive(frame(7, "BOOTi\r\n"));
    QCOMPARE(exchanges.size(), std::size_t{1});
    QCOMPARE(qbytes(exchanges[0].answer), qbytes(frame(7, "BVER=4.1\r\n")));
}

QTEST_APPLESS_MAIN(tst_modbus)
#include "tst_modbus.moc"
