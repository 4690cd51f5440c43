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
        QTest::newRow("mixed line ends")
            << QByteArray("a\r\nb\nc\rd") << L{"1:a", "2:b", "3:c", "4:d"};
        QTest::newRow("empty lines")
            << QByteArray("\na\r\n\r\nb\n\n") << L{"1:", "2:a", "3:", "4:b", "5:"};
        QTest::newRow("commas") << QByteArray(",a,,b\nc") << L{"1:", "1:a", "1:", "1:b", "2:c"};
        QTest::newRow("blanks around, inside kept")
            << QByteArray("  a b ,\tc\t\n") << L{"1:a b", "1:c"};
        QTest::newRow("quoted") << QByteArray(" \"x,y\" \n\" a \",\"\"\n")
                                << L{"1:x,y", "2: a ", "2:"};
        QTest::newRow("text after closing quote dropped")
            << QByteArray("\"x\"j\"k\",y\n") << L{"1:x", "1:y"};
        QTest::newRow("quote open to the line end")
            << QByteArray("\"abc\r\nd") << L{"1:abc", "2:d"};
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
            {"10010000", "it does not begin with \":\"", ""},
            {":0000000 1FF", "\" \" is no hexadecimal digit", ""},
            {":00000001F", "it has an odd number of hexadecimal digits", ""},
            {":000000", "it is too short for a record: 3 bytes", ""},
            {":0200000001FD", "its count says 2 data bytes, but it holds 1", ""},
            {":00000001FE", "its checksum is FE where FF is due", ""},
            {"", "it does not begin with \":\"", ""}};
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

    // Blank lines are skipped; the first bad line is named by its line in the file.
    void firmwareText_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("records");
        QTest::addColumn<int>("badLine");
        QTest::addColumn<bool>("tooMany");
        QTest::newRow("CR CR LF and blank lines")
            << QByteArray(":00000001FF\r\r\n\n  \n:00000001FF\n") << 2 << 0 << false;
        QTest::newRow("only blank lines") << QByteArray("\n\r\n \n") << 0 << 0 << false;
        QTest::newRow("text file") << QByteArray("hello\n:00000001FF\n") << 0 << 1 << false;
        QTest::newRow("bad checksum on line 3")
            << QByteArray(":00000001FF\n\n:00000001FE\n") << 1 << 3 << false;
        QTest::newRow("one over the bound")
            << QByteArray(":00000001FF\n:00000001FF\n:00000001FF\n") << 2 << 0 << true;
    }

    void firmwareText() {
        QFETCH(QByteArray, content);
        QFETCH(int, records);
        QFETCH(int, badLine);
        QFETCH(bool, tooMany);
        const FirmwareText text = readFirmwareText(content.toStdString(), 2);
        QCOMPARE(int(text.records.size()), records);
        QCOMPARE(int(text.badLine), badLine);
        QCOMPARE(text.tooMany, tooMany);
        QCOMPARE(text.fault.empty(), badLine == 0);
    }
};

QTEST_APPLESS_MAIN(TestFirmware)
#include "tst_firmware.moc"
