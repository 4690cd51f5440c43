// Serial numbers as bytes, and those bytes stamped into a firmware's Intel HEX records.
#include "pure/SerialNumber.h"

#include <QTest>

using namespace quenta;
using L = QList<QByteArray>;

namespace {

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
    // Expected bytes in hexadecimal; "refused" when the number has no bytes in that width, "no
    // format" when the format has no such name.
    void bytes_data() {
        QTest::addColumn<quint64>("number");
        QTest::addColumn<unsigned>("width");
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<QByteArray>("expected");
        // clang-format off
        const std::tuple<quint64, unsigned, const char *, const char *> rows[] = {
            {0x1234, 2, "be", "1234"}, {5, 3, "retlw", "003400340534"},
            {0x0102030405060708, 8, "le", "0807060504030201"},
            {0xFFFFFFFFFFFFFFFF, 8, "be", "ffffffffffffffff"}, {255, 1, "be", "ff"},
            {256, 1, "le", "refused"}, {0x10000, 2, "retlw", "refused"}, {0, 0, "be", "refused"},
            {1, 9, "be", "refused"}, {1, 1, "LE", "no format"}, {1, 1, "", "no format"},
            {1, 1, "retl", "no format"}};
        // clang-format on
        for (const auto &[number, width, format, expected] : rows) {
            QTest::addRow("%llu in %u, [%s]", number, width, format)
                << number << width << QByteArray(format) << QByteArray(expected);
        }
    }

    void bytes() {
        QFETCH(quint64, number);
        QFETCH(unsigned, width);
        QFETCH(QByteArray, format);
        QFETCH(QByteArray, expected);
        const auto named = serialFormatNamed(format.toStdString());
        const auto actual = named ? serialBytes(number, width, *named) : std::nullopt;
        QCOMPARE(actual ? QByteArray::fromStdString(*actual).toHex()
                        : QByteArray(named ? "refused" : "no format"),
                 expected);
    }

    // The records after the stamp, or why they were refused.
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
        const L other = {base0, ":04000000EF00F0001D", ":020000040030CA", ":0100000008F7"};
        QTest::newRow("outside, after another address record")
            << other + L{end} << quint32(0x100) << QByteArray("3412")
            << other + L{base0, ":020100003412B7", end};
        const L across = {base0,
                          r0,
                          ":10FFF000000102030405060708090A0B0C0D0E0F89",
                          ":020000040001F9",
                          ":10000000101112131415161718191A1B1C1D1E1F78",
                          ":080010002021222324252627CC",
                          end};
        QTest::newRow("across 64 KiB, more than one record's worth")
            << L{base0, r0, end} << quint32(0xFFF0)
            << QByteArray("000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F"
                          "2021222324252627")
            << across;
        QTest::newRow("segment address followed")
            << L{":020000021000EC", ":02000000AABB99", end} << quint32(0x10001) << QByteArray("77")
            << L{":020000021000EC", ":02000000AA77DD", end};
        QTest::newRow("no end record: added at the end")
            << L{r0} << quint32(0x20) << QByteArray("0234") << L{r0, ":020020000234A8"};
        QTest::newRow("bad checksum")
            << L{":00000001FF", ":00000001FE"} << quint32(0) << QByteArray("1234")
            << L{"record 2 has the checksum FE where FF is due"};
        QTest::newRow("short address record")
            << L{":0100000400FB"} << quint32(0) << QByteArray("1234")
            << L{"record 1 is an extended linear address record (type 04) with 1 data byte, but "
                 "it must carry 2"};
        QTest::newRow("past 4 GiB") << L{":00000001FF"} << quint32(0xFFFFFFFF) << QByteArray("1234")
                                    << L{"2 bytes at address 4294967295 reach past the 4 GiB an "
                                         "Intel HEX file can address"};
    }

    void stamp() {
        QFETCH(L, records);
        QFETCH(quint32, address);
        QFETCH(QByteArray, bytes);
        QFETCH(L, expected);
        std::vector<std::string> strings;
        for (const QByteArray &record : records) {
            strings.push_back(record.toStdString());
        }
        const StampedRecords stamped =
            stampBytes(strings, address, QByteArray::fromHex(bytes).toStdString());
        L actual = toList(stamped.records);
        if (!stamped.fault.empty()) {
            actual.prepend(QByteArray::fromStdString(stamped.fault));
        }
        QCOMPARE(actual, expected);
    }
};

QTEST_APPLESS_MAIN(TestSerial)
#include "tst_serial.moc"
