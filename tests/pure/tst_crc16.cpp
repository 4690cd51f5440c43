// The CRC-16 of Modbus frames, against the published check values.
#include "pure/Crc16.h"

#include <QTest>

class TestCrc16 : public QObject {
    Q_OBJECT
private slots:
    void checkValues() {
        const std::pair<QByteArray, const char *> rows[] = {
            {"123456789", "374B"},
            {"abc", "4957"},
            {"", "FFFF"},
            {QByteArray(1, '\0'), "BF40"},
            {QByteArray::fromHex("80FF7F81C0FE"), "93B3"},
            {"dAl", "0062"},
            {"ach", "0900"}};
        for (const auto &[bytes, crc] : rows) {
            QCOMPARE(
                QByteArray::fromStdString(quenta::CRC16(bytes.toStdString())).toHex().toUpper(),
                QByteArray(crc));
        }
    }
};

QTEST_APPLESS_MAIN(TestCrc16)
#include "tst_crc16.moc"
