// Reading a firmware file: its items, and the check that every line is an Intel HEX record.
#include "pure/HexReading.h"
#include "pure/HexRecords.h"

#include <QTest>

using namespace quenta;
using L = QList<QByteArray>;

class TestFirmware : public QObject {
    Q_OBJECT
private slots:
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
        row("only blank lines", "\n\r\n \n", 0, 0, "");
        row("text file", "hello\n:00000001FF\n", 0, 1, "line 1 does not start with ':'");
        row("bad checksum on line 3", ":0100000055AA\n\n:0100000055AB\n:00000001FF\n", 1, 3,
            "line 3 has the checksum AB where AA is due");
        row("cut after a data record", ":020000040000FA\r\n:0100000055AA\r\n", 2, 2,
            "the file ends at line 2 without an end record (:00000001FF)");
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

QTEST_APPLESS_MAIN(TestFirmware)
#include "tst_firmware.moc"
