// Modbus RTU check value: register arithmetic and the two characters that go on the line.

#include "ReferenceCrc.h"

#include "protocol/Crc16.h"

#include <QByteArray>
#include <QTest>

#include <cstdint>

using namespace quenta;
using namespace quenta_test;

class TestCrc16 : public QObject {
    Q_OBJECT

private:
    static void addMessages();

private slots:
    void publishedCheckValues_data();
    void publishedCheckValues();
    void agreesWithBitwiseRule_data();
    void agreesWithBitwiseRule();
    void updateFoldsToRegister_data();
    void updateFoldsToRegister();
    void updateFromAnyRegister_data();
    void updateFromAnyRegister();
    void appendedCheckValueLeavesZero_data();
    void appendedCheckValueLeavesZero();
};

void TestCrc16::publishedCheckValues_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("reg");
    QTest::addColumn<QByteArray>("onLine");

    QTest::newRow("123456789") << QByteArray("123456789") << 0x4B37 << QByteArray::fromHex("374B");
    QTest::newRow("abc") << QByteArray("abc") << 0x5749 << QByteArray::fromHex("4957");
    QTest::newRow("empty") << QByteArray() << 0xFFFF << QByteArray::fromHex("FFFF");
    QTest::newRow("one zero byte") << QByteArray(1, '\0') << 0x40BF << QByteArray::fromHex("BF40");
    // Inputs whose check value has a zero byte: the zero must still be one of the two characters.
    QTest::newRow("low byte zero") << QByteArray("dAl") << 0x6200 << QByteArray::fromHex("0062");
    QTest::newRow("high byte zero") << QByteArray("ach") << 0x0009 << QByteArray::fromHex("0900");
    QTest::newRow("byte FF") << QByteArray::fromHex("FF") << 0x00FF << QByteArray::fromHex("FF00");
    QTest::newRow("address 1 info command") << QByteArray::fromHex("01") + "BOOTi\r\n"
                                            << 0x89FC << QByteArray::fromHex("FC89");
    QTest::newRow("address 1 OK answer") << QByteArray::fromHex("0142") + "OK\r\n"
                                         << 0x909B << QByteArray::fromHex("9B90");
}

void TestCrc16::publishedCheckValues() {
    QFETCH(QByteArray, input);
    QFETCH(int, reg);
    QFETCH(QByteArray, onLine);

    QCOMPARE(int(crc16Register(toStd(input))), reg);
    const std::string line = CRC16(toStd(input));
    QCOMPARE(line.size(), std::size_t(2));
    QCOMPARE(toBytes(line), onLine);
}

void TestCrc16::addMessages() {
    QTest::addColumn<QByteArray>("input");

    for (int b = 0; b < 256; ++b)
        QTest::addRow("byte %02X", b) << QByteArray(1, char(b));
    QTest::newRow("high characters") << QByteArray::fromHex("80FF7F81C0FE");
    QTest::newRow("embedded zeros") << QByteArray::fromHex("0000420000");
    QTest::newRow("modbus frame text") << QByteArray::fromHex("FF42") + "VER=1.23\r\n";
    QByteArray pattern;
    for (int i = 0; i < 600; ++i)
        pattern.append(char((i * 37 + 11) & 0xFF));
    QTest::newRow("600 bytes") << pattern;
}

void TestCrc16::agreesWithBitwiseRule_data() {
    addMessages();
}

void TestCrc16::agreesWithBitwiseRule() {
    QFETCH(QByteArray, input);

    const std::uint16_t expected = referenceCrc(input);
    QCOMPARE(crc16Register(toStd(input)), expected);
    const std::string line = CRC16(toStd(input));
    QCOMPARE(line.size(), std::size_t(2));
    QCOMPARE(int(static_cast<unsigned char>(line[0])), expected & 0xFF);
    QCOMPARE(int(static_cast<unsigned char>(line[1])), expected >> 8);
}

void TestCrc16::updateFoldsToRegister_data() {
    addMessages();
}

void TestCrc16::updateFoldsToRegister() {
    QFETCH(QByteArray, input);

    std::uint16_t reg = 0xFFFF;
    for (const char c : input)
        reg = crc16Update(reg, c);
    QCOMPARE(reg, referenceCrc(input));
    QCOMPARE(reg, crc16Register(toStd(input)));
}

void TestCrc16::updateFromAnyRegister_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("byte");

    const int starts[] = {0x0000, 0x0001, 0x1234, 0x8000, 0xA001, 0xFFFF};
    const int bytes[] = {0x00, 0x01, 0x41, 0x7F, 0x80, 0xA5, 0xFF};
    for (const int s : starts)
        for (const int b : bytes)
            QTest::addRow("reg %04X byte %02X", s, b) << s << b;
}

void TestCrc16::updateFromAnyRegister() {
    QFETCH(int, start);
    QFETCH(int, byte);

    QCOMPARE(crc16Update(std::uint16_t(start), char(byte)),
             referenceUpdate(std::uint16_t(start), static_cast<unsigned char>(byte)));
}

void TestCrc16::appendedCheckValueLeavesZero_data() {
    QTest::addColumn<QByteArray>("input");

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("123456789") << QByteArray("123456789");
    QTest::newRow("info command") << QByteArray::fromHex("01") + "BOOTi\r\n";
    QTest::newRow("address 255") << QByteArray::fromHex("FF42") + "OK\r\n";
    QTest::newRow("zeros") << QByteArray(5, '\0');
}

// A receiver runs the register over message and check value together and expects zero.
void TestCrc16::appendedCheckValueLeavesZero() {
    QFETCH(QByteArray, input);

    const std::string message = toStd(input);
    QCOMPARE(int(crc16Register(message + CRC16(message))), 0);
}

QTEST_APPLESS_MAIN(TestCrc16)
#include "tst_crc16.moc"
