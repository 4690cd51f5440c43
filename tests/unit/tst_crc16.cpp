// Modbus RTU check value (CRC-16/MODBUS) against published and independently computed values.

#include "protocol/Crc16.h"

#include <QByteArray>
#include <QTest>

#include <cstdint>

using namespace quenta;

class TestCrc16 : public QObject {
    Q_OBJECT

private slots:
    void checkValues_data();
    void checkValues();
};

void TestCrc16::checkValues_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("onLine"); // low byte first

    QTest::newRow("123456789") << QByteArray("123456789") << QByteArray::fromHex("374B");
    QTest::newRow("abc") << QByteArray("abc") << QByteArray::fromHex("4957");
    QTest::newRow("empty") << QByteArray() << QByteArray::fromHex("FFFF");
    QTest::newRow("one zero byte") << QByteArray(1, '\0') << QByteArray::fromHex("BF40");
    // A zero byte in the check value must still be one of the two characters.
    QTest::newRow("low byte zero") << QByteArray("dAl") << QByteArray::fromHex("0062");
    QTest::newRow("high byte zero") << QByteArray("ach") << QByteArray::fromHex("0900");
    // Characters above 127 must not be sign-extended.
    QTest::newRow("high bytes") << QByteArray::fromHex("80FF7F81C0FE")
                                << QByteArray::fromHex("93B3");
    QTest::newRow("info command, address 1") << QByteArray::fromHex("01") + "BOOTi\r\n"
                                             << QByteArray::fromHex("FC89");
}

void TestCrc16::checkValues() {
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, onLine);

    const std::string message = input.toStdString();
    const std::string crc = CRC16(message);
    QCOMPARE(QByteArray::fromStdString(crc), onLine);
    const int reg = (std::uint8_t(onLine[1]) << 8) | std::uint8_t(onLine[0]);
    QCOMPARE(int(crc16Register(message)), reg);
    std::uint16_t folded = 0xFFFF;
    for (const char c : message)
        folded = crc16Update(folded, c);
    QCOMPARE(int(folded), reg);
    // A receiver running the register over message and check value together gets zero.
    QCOMPARE(int(crc16Register(message + crc)), 0);
}

QTEST_APPLESS_MAIN(TestCrc16)
#include "tst_crc16.moc"
