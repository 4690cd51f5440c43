// Serial numbers as bytes, and those bytes stamped into a firmware's Intel HEX records.
#include "pure/SerialNumber.h"

#include <QTest>

using namespace quenta;
using L = QList<QByteArray>;

namespace {

std::vector<std::string> toStrings(const L &list) {
    std::vector<std::string> strings;
    for (const QByteArray &item : list) {
        strings.push_back(item.toStdString());
    }
    return strings;
}

L toList(const std::vector<std::string> &strings) {
    L list;
    for (const std::string &item : strings) {
        list.append(QByteArray::fromStdString(item));
    }
    return list;
}

} // namespace

class TestSerial : public QObject {
    Q_OBJECT
private slots:
    // Expected bytes in hexadecimal; "refused" when the number has no bytes in that width.
    void bytes_data() {
        QTest::addColumn<quint64>("number");
        QTest::addColumn<unsigned>("width");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("le") << quint64(0x1234) << 2u << "le" << QByteArray("3412");
        QTest::newRow("be") << quint64(0x1234) << 2u << "be" << QByteArray("1234");
        QTest::newRow("retlw") << quint64(0x1234) << 2u << "retlw" << QByteArray("12343434");
        QTest::newRow("retlw leading zeros")
            << quint64(5) << 3u << "retlw" << QByteArray("003400340534");
        QTest::newRow("8 bytes le")
            << quint64(0x0102030405060708) << 8u << "le" << QByteArray("0807060504030201");
        QTest::newRow("largest in 8")
            << quint64(0xFFFFFFFFFFFFFFFF) << 8u << "be" << QByteArray("ffffffffffffffff");
        QTest::newRow("largest in 1") << quint64(255) << 1u << "be" << QByteArray("ff");
        QTest::newRow("256 in 1") << quint64(256) << 1u << "le" << QByteArray("refused");
        QTest::newRow("65536 in 2") << quint64(0x10000) << 2u << "retlw" << QByteArray("refused");
        QTest::newRow("width 0") << quint64(0) << 0u << "be" << QByteArray("refused");
        QTest::newRow("width 9") << quint64(1) << 9u << "be" << QByteArray("refused");
    }

    void bytes() {
        QFETCH(quint64, number);
        QFETCH(unsigned, width);
        QFETCH(QString, format);
        QFETCH(QByteArray, expected);
        const auto named = serialFormatNamed(format.toStdString());
        QVERIFY(named);
        const auto actual = serialBytes(number, width, *named);
        QCOMPARE(actual ? QByteArray::fromStdString(*actual).toHex() : "refused", expected);
    }

    void formatNames() {
        QVERIFY(!serialFormatNamed("LE"));
        QVERIFY(!serialFormatNamed(""));
        QVERIFY(!serialFormatNamed("retl"));
    }

    void stamp_data() {
        QTest::addColumn<L>("records");
        QTest::addColumn<quint32>("address");
        QTest::addColumn<QByteArray>("bytes"); // hexadecimal
        QTest::addColumn<L>("expected");
        const QByteArray base0 = ":020000040000FA";
        const QByteArray r0 = ":10000000000102030405060708090A0B0C0D0E0F78";
        const QByteArray r10 = ":10001000101112131415161718191A1B1C1D1E1F68";
        const QByteArray end = ":00000001FF";
        QTest::newRow("inside one record")
            << L{base0, r0, end} << quint32(4) << QByteArray("1234")
            << L{base0, ":10000000000102031234060708090A0B0C0D0E0F3B", end};
        QTest::newRow("over two records")
            << L{base0, r0, r10, end} << quint32(0x0E) << QByteArray("D4C3B2A1")
            << L{base0, ":10000000000102030405060708090A0B0C0DD4C3FE",
                 ":10001000B2A112131415161718191A1B1C1D1E1F36", end};
        QTest::newRow("half past the last record")
            << L{base0, r0, r10, end} << quint32(0x1E) << QByteArray("01340234")
            << L{base0, r0, ":10001000101112131415161718191A1B1C1D013470", ":020020000234A8", end};
        QTest::newRow("outside, after another address record")
            << L{base0, ":04000000EF00F0001D", ":020000040030CA", ":0100000008F7", end}
            << quint32(0x100) << QByteArray("3412") << L{base0,
                                                         ":04000000EF00F0001D",
                                                         ":020000040030CA",
                                                         ":0100000008F7",
                                                         base0,
                                                         ":020100003412B7",
                                                         end};
        QTest::newRow("across 64 KiB, more than one record's worth")
            << L{base0, r0, end} << quint32(0xFFF0)
            << QByteArray("000102030405060708090A0B0C0D0E0F"
                          "101112131415161718191A1B1C1D1E1F"
                          "2021222324252627")
            << L{base0,
                 r0,
                 ":10FFF000000102030405060708090A0B0C0D0E0F89",
                 ":020000040001F9",
                 ":10000000101112131415161718191A1B1C1D1E1F78",
                 ":080010002021222324252627CC",
                 end};
        QTest::newRow("segment address followed")
            << L{":020000021000EC", ":02000000AABB99", end} << quint32(0x10001) << QByteArray("77")
            << L{":020000021000EC", ":02000000AA77DD", end};
        QTest::newRow("no end record: added at the end")
            << L{r0} << quint32(0x20) << QByteArray("0234") << L{r0, ":020020000234A8"};
    }

    void stamp() {
        QFETCH(L, records);
        QFETCH(quint32, address);
        QFETCH(QByteArray, bytes);
        QFETCH(L, expected);
        const StampedRecords stamped =
            stampBytes(toStrings(records), address, QByteArray::fromHex(bytes).toStdString());
        QCOMPARE(QByteArray::fromStdString(stamped.fault), QByteArray());
        QCOMPARE(toList(stamped.records), expected);
    }

    void refused_data() {
        QTest::addColumn<L>("records");
        QTest::addColumn<quint32>("address");
        QTest::addColumn<QByteArray>("fault");
        QTest::newRow("bad checksum")
            << L{":00000001FF", ":00000001FE"} << quint32(0)
            << QByteArray("record 2 has the checksum FE where FF is due");
        QTest::newRow("short address record")
            << L{":0100000400FB"} << quint32(0)
            << QByteArray("record 1 is an extended linear address record (type 04) with 1 data "
                          "byte, but it must carry 2");
        QTest::newRow("past 4 GiB")
            << L{":00000001FF"} << quint32(0xFFFFFFFF)
            << QByteArray("2 bytes at address 4294967295 reach past the 4 GiB an Intel HEX file "
                          "can address");
    }

    void refused() {
        QFETCH(L, records);
        QFETCH(quint32, address);
        QFETCH(QByteArray, fault);
        const StampedRecords stamped = stampBytes(toStrings(records), address, "\x12\x34");
        QCOMPARE(QByteArray::fromStdString(stamped.fault), fault);
        QVERIFY(stamped.records.empty());
    }
};

QTEST_APPLESS_MAIN(TestSerial)
#include "tst_serial.moc"
