// The texts of a job: numbers read out of the address and port boxes and the set-address line
// made of one, serial numbers as bytes stamped into a firmware's Intel HEX records, and a firmware
// file's items and the check that every line is a record.
#include "pure/CommandLines.h"
#include "pure/HexReading.h"
#include "pure/HexRecords.h"
#include "pure/NumberText.h"
#include "pure/SerialNumber.h"

#include <QTest>

#include <clocale>
#include <limits>

using namespace quenta;
using L = QList<QByteArray>;

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();

template <typename T> QByteArray shown(const std::optional<T> &result) {
    return result ? QByteArray::number(int(*result)) : QByteArray("none");
}
} // namespace

class TestTexts : public QObject {
    Q_OBJECT
private slots:
    // Blanks are skipped anywhere; reading stops at the first character that does not fit; "&H"
    // takes up to eight hexadecimal digits as a 32-bit two's complement number.
    void readNumber_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<double>("expected");
        // clang-format off
        const std::pair<const char *, double> rows[] = {
            {"+7", 7}, {"-12.5", -12.5}, {".5", 0.5}, {"1.5e2", 150}, {"1D2", 100}, {"25E-1", 2.5},
            {" \t1 2", 12}, {"- 5", -5}, {"1 e 2", 100}, {"12abc", 12}, {"7E-", 7}, {"1.2.3", 1.2},
            {"1,5", 1}, {"1\r2", 1}, {"", 0}, {".", 0}, {"--5", 0}, {"&haB", 171}, {"& H1 0", 16},
            {"&H1G", 1}, {"&H80000000", -2147483648.0}, {"&H100000000", kInf}, {"1e999", kInf},
            {"-1e999", -kInf}, {"1000e306", kInf}, {"0.001e310", 1e307}, {"1e-999", 0},
            {"-5000e-330", 0}, {"2e+3", 2000}, {"+.5e-1", 0.05}};
        // clang-format on
        for (const auto &[text, value] : rows) {
            QTest::addRow("[%s]", text) << QByteArray(text) << value;
        }
    }

    void readNumber() {
        QFETCH(QByteArray, text);
        QFETCH(double, expected);
        QCOMPARE(quenta::readNumber(text.toStdString()), expected);
    }

    // An address is read like a number and must lie in 0..255; a port number is the whole text as
    // one number (blanks only around it) in -32768..32767. Both round halves to even. The
    // set-address line carries the address, but never 0, nor one outside 0..255.
    void addresses_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("address");
        QTest::addColumn<QByteArray>("fault"); // of the address box: N none, W no number, R range
        QTest::addColumn<QByteArray>("integer");
        QTest::addColumn<QByteArray>("line"); // to set it; -: none, !: none, out of range
        // clang-format off
        const char *rows[][5] = {
            {"", "0", "N", "none", "-"}, {" \t12 \t", "12", "N", "12", "BOOT$0C\r\n"},
            {" 2 5 5 ", "255", "N", "none", "BOOT$FF\r\n"}, {"five", "0", "W", "none", "-"},
            {"   ", "0", "W", "none", "-"}, {"- 5", "none", "R", "none", "!"},
            {"12abc", "12", "N", "none", "BOOT$0C\r\n"}, {"3.", "3", "N", "3", "BOOT$03\r\n"},
            {"2.5", "2", "N", "2", "BOOT$02\r\n"}, {"3.5", "4", "N", "4", "BOOT$04\r\n"},
            {"300", "none", "R", "300", "!"}, {"-0.6", "none", "R", "-1", "!"},
            {"&HFF", "255", "N", "255", "BOOT$FF\r\n"}, {"255.5", "none", "R", "256", "!"},
            {"&HFFFFFFFF", "none", "R", "-1", "!"}, {"32767.5", "none", "R", "none", "!"},
            {"-32768.5", "none", "R", "-32768", "!"}, {"0", "0", "N", "0", "-"},
            {"256", "none", "R", "256", "!"}, {"1e12", "none", "R", "none", "!"}};
        // clang-format on
        for (const auto &row : rows) {
            QTest::addRow("[%s]", row[0])
                << QByteArray(row[0]) << QByteArray(row[1]) << QByteArray(row[2])
                << QByteArray(row[3]) << QByteArray(row[4]);
        }
    }

    void addresses() {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, address);
        QFETCH(QByteArray, fault);
        QFETCH(QByteArray, integer);
        QFETCH(QByteArray, line);
        QCOMPARE(shown(deviceAddress(text.toStdString())), address);
        QCOMPARE(shown(toInteger16(text.toStdString())), integer);
        const AddressReading reading = readDeviceAddress(text.toStdString());
        QCOMPARE(QByteArray(1, "NWR"[int(reading.fault)]), fault);
        const NewAddress set = setAddressLine(text.toStdString());
        QCOMPARE(set.line         ? QByteArray::fromStdString(*set.line)
                 : set.outOfRange ? "!"
                                  : "-",
                 line);
        QCOMPARE(set.outOfRange, line == "!");
    }

    // The window runs under the user's locale; "2.5" must read the same where decimals are written
    // with a comma.
    void commaLocale() {
        const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
        if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") ||
            *std::localeconv()->decimal_point != ',') {
            std::setlocale(LC_NUMERIC, saved.c_str());
            QSKIP("no locale with a decimal comma is installed");
        }
        const QByteArray read = QByteArray::number(quenta::readNumber("-12.5")) + ' ' +
                                shown(deviceAddress("3.5")) + ' ' + shown(toInteger16("2,5"));
        std::setlocale(LC_NUMERIC, saved.c_str());
        QCOMPARE(read, QByteArray("-12.5 4 none"));
    }

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
        // Where the file's addressing puts each byte: an 02 record's offsets wrap within its
        // segment, and a byte past the segment's end is the next 64 KiB page's.
        const QByteArray segment = ":020000021000EC";
        QTest::newRow("segment address, the record's offsets wrapped")
            << L{segment, ":04FFFE00AABBCCDDF1", end} << quint32(0x10000) << QByteArray("1234")
            << L{segment, ":04FFFE00AABB123454", end};
        QTest::newRow("segment address, past the segment's end")
            << L{segment, ":04FFFC00AABBCCDDF3", end} << quint32(0x1FFFE) << QByteArray("01020304")
            << L{segment, ":04FFFC00AABB010299", ":020000040002F8", ":020000000304F7", end};
        QTest::newRow("new records split at the 64 KiB page")
            << L{base0, r0, end} << quint32(0xFFFE) << QByteArray("01020304")
            << L{base0, r0, ":02FFFE000102FE", ":020000040001F9", ":020000000304F7", end};
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
        L actual;
        for (const std::string &record : stamped.records) {
            actual.append(QByteArray::fromStdString(record));
        }
        if (!stamped.fault.empty()) {
            actual.prepend(QByteArray::fromStdString(stamped.fault));
        }
        QCOMPARE(actual, expected);
    }

    // Each item as "line:text".
    void items_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<L>("expected");
        // clang-format off
        const std::tuple<const char *, const char *, L> rows[] = {
            {"mixed line ends", "a\r\nb\nc\rd", {"1:a", "2:b", "3:c", "4:d"}},
            {"empty lines", "\na\r\n\r\nb\n\n", {"1:", "2:a", "3:", "4:b", "5:"}},
            {"commas", ",a,,b\nc", {"1:", "1:a", "1:", "1:b", "2:c"}},
            {"blanks around, inside kept", "  a b ,\tc\t\n", {"1:a b", "1:c"}},
            {"quoted", " \"x,y\" \n\" a \",\"\"\n", {"1:x,y", "2: a ", "2:"}},
            {"text after closing quote dropped", "\"x\"j\"k\",y\n", {"1:x", "1:y"}},
            {"quote open to the line end", "\"abc\r\nd", {"1:abc", "2:d"}}};
        // clang-format on
        for (const auto &[name, content, expected] : rows) {
            QTest::newRow(name) << QByteArray(content) << expected;
        }
    }

    void items() {
        QFETCH(QByteArray, content);
        QFETCH(L, expected);
        const std::string text = content.toStdString();
        HexItemReader reader(text);
        L actual;
        while (!reader.atEnd() && actual.size() <= content.size()) {
            const std::string item = reader.next();
            actual.append(QByteArray::number(qulonglong(reader.line())) + ':' + item.c_str());
        }
        QCOMPARE(actual, expected);
    }

    void records_data() {
        QTest::addColumn<QByteArray>("item");
        QTest::addColumn<QByteArray>("fault"); // empty: a record
        QTest::addColumn<int>("type");
        const char *rows[][3] = {
            {":10010000214601360121470136007EFE09D2190140", "", "0"},
            {":00000001FF", "", "1"},
            {":020000040000fa", "", "4"},
            {":020000021200EA", "", "2"},
            {":0400000300003800C1", "", "3"},
            {":040000050000CD002A", "", "5"},
            {"10010000", "does not start with ':'", ""},
            {"", "does not start with ':'", ""},
            {":0000000 1FF", "holds ' ', which is not a hexadecimal digit", ""},
            {":00000001F\x01", "holds the byte 0x01, which is not a hexadecimal digit", ""},
            {":00000001F", "has an odd number of hexadecimal digits", ""},
            {":000000", "is too short for a record: it holds 3 bytes, a record has at least 5", ""},
            {":0200000001FD", "gives a length of 2 data bytes but carries 1", ""},
            {":00000001FE", "has the checksum FE where FF is due", ""}};
        for (const auto &row : rows) {
            QTest::addRow("[%s]", row[0])
                << QByteArray(row[0]) << QByteArray(row[1]) << QByteArray(row[2]).toInt();
        }
    }

    void records() {
        QFETCH(QByteArray, item);
        QFETCH(QByteArray, fault);
        QFETCH(int, type);
        const auto found = recordFault(item.toStdString());
        QCOMPARE(QByteArray(found.value_or("").c_str()), fault);
        if (!found) {
            QCOMPARE(int(recordType(item.toStdString())), type);
            QCOMPARE(isAddressRecord(item.toStdString()), type == 2 || type == 4);
        }
    }

    // Blank lines are skipped; the first fault is named by its line in the file. The end record
    // must come once, as the last record, and every record must have the shape its type asks for.
    void firmwareText_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("records");
        QTest::addColumn<int>("badLine");
        QTest::addColumn<bool>("tooMany");
        QTest::addColumn<QByteArray>("fault");
        const auto row = [](const char *name, const char *content, int records, int badLine,
                            const char *fault) {
            QTest::newRow(name) << QByteArray(content) << records << badLine << false
                                << QByteArray(fault);
        };
        row("CR CR LF and blank lines", ":0100000055AA\r\r\n\n  \n:00000001FF\n", 2, 0, "");
        row("bad checksum on line 3", ":0100000055AA\n\n:0100000055AB\n:00000001FF\n", 1, 3,
            "line 3 has the checksum AB where AA is due");
        row("only address records, blank line last", ":020000040000FA\n:020000021200EA\n\n", 2, 3,
            "the file ends at line 3 without an end record (:00000001FF)");
        row("end record in the middle", ":00000001FF\n\n:0100000055AA\n:00000001FF\n", 1, 3,
            "line 3 comes after the end record on line 1; the end record must be the last record");
        row("unknown record type", ":0100000055AA\n:00000006FA\n:00000001FF\n", 1, 2,
            "line 2 has the record type 06, but only types 00 to 05 exist");
        row("end record with data", ":0100000055AA\n:0100000100FE\n", 1, 2,
            "line 2 is an end record (type 01) with 1 data byte, but an end record carries none");
        row("04 without data", ":00000004FC\n:0100000055AA\n:00000001FF\n", 0, 1,
            "line 1 is an extended linear address record (type 04) with 0 data bytes, but it must "
            "carry 2");
        row("04 with an address", "\n:020010040000EA\n:00000001FF\n", 0, 2,
            "line 2 is an extended linear address record (type 04) with the address field 0010, "
            "but it must be 0000");
        row("02 with one byte", ":0100000212EB\n:00000001FF\n", 0, 1,
            "line 1 is an extended segment address record (type 02) with 1 data byte, but it must "
            "carry 2");
        row("02 with an address", ":020001021200E9\n:00000001FF\n", 0, 1,
            "line 1 is an extended segment address record (type 02) with the address field 0001, "
            "but it must be 0000");
        row("03 with two bytes", ":020000030000FB\n:00000001FF\n", 0, 1,
            "line 1 is a start segment address record (type 03) with 2 data bytes, but it must "
            "carry 4");
        row("05 with an address", ":0400010500000000F6\n:00000001FF\n", 0, 1,
            "line 1 is a start linear address record (type 05) with the address field 0001, but "
            "it must be 0000");
        QTest::newRow("one over the bound")
            << QByteArray(":0100000055AA\n:0100000055AA\n:00000001FF\n") << 2 << 0 << true
            << QByteArray();
    }

    void firmwareText() {
        QFETCH(QByteArray, content);
        QFETCH(int, records);
        QFETCH(int, badLine);
        QFETCH(bool, tooMany);
        QFETCH(QByteArray, fault);
        const FirmwareText text = readFirmwareText(content.toStdString(), 2);
        QCOMPARE(int(text.records.size()), records);
        QCOMPARE(int(text.badLine), badLine);
        QCOMPARE(text.tooMany, tooMany);
        QCOMPARE(QByteArray::fromStdString(text.fault), fault);
    }
};

QTEST_APPLESS_MAIN(TestTexts)
#include "tst_texts.moc"
