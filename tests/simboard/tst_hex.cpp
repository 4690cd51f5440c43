#include "SimboardTesting.h"

#include "simboard/IntelHex.h"

#include <QTest>

using namespace simboard;
using namespace simboard::testing;

class tst_hex : public QObject {
    Q_OBJECT

private slots:
    void parsesRecords_data();
    void parsesRecords();
    void refusesBadRecords_data();
    void refusesBadRecords();
    void placesData_data();
    void placesData();
    void comparesWithMemory_data();
    void comparesWithMemory();
    void readsFiles_data();
    void readsFiles();
};

void tst_hex::parsesRecords_data() {
    QTest::addColumn<QByteArray>("digits");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("data");

    QTest::newRow("data") << QByteArray("100000000C9434000C9446000C9446000C9446006A") << 0 << 0
                          << QByteArray::fromHex("0C9434000C9446000C9446000C944600");
    QTest::newRow("lower-case digits")
        << QByteArray("01001000559a") << 0 << 0x10 << QByteArray::fromHex("55");
    QTest::newRow("top offset") << QByteArray("02FFFF00AABB9B") << 0 << 0xFFFF
                                << QByteArray::fromHex("AABB");
    QTest::newRow("empty data") << QByteArray("00001000F0") << 0 << 0x10 << QByteArray();
    QTest::newRow("end of file") << QByteArray("00000001FF") << 1 << 0 << QByteArray();
    QTest::newRow("extended segment address")
        << QByteArray("020000021000EC") << 2 << 0 << QByteArray::fromHex("1000");
    QTest::newRow("start segment address")
        << QByteArray("0400000300003800C1") << 3 << 0 << QByteArray::fromHex("00003800");
    QTest::newRow("extended linear address")
        << QByteArray("020000040800F2") << 4 << 0 << QByteArray::fromHex("0800");
    QTest::newRow("start linear address")
        << QByteArray("04000005000000CD2A") << 5 << 0 << QByteArray::fromHex("000000CD");
}

void tst_hex::parsesRecords() {
    QFETCH(QByteArray, digits);
    QFETCH(int, type);
    QFETCH(int, offset);
    QFETCH(QByteArray, data);

    const auto parsed = parseRecord(bytes(digits));
    QVERIFY(parsed);
    QCOMPARE(static_cast<int>(parsed->type), type);
    QCOMPARE(static_cast<int>(parsed->offset), offset);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(parsed->data.data()),
                        static_cast<qsizetype>(parsed->data.size())),
             data);
}

void tst_hex::refusesBadRecords_data() {
    QTest::addColumn<QByteArray>("digits");

    QTest::newRow("nothing") << QByteArray();
    QTest::newRow("shorter than a record") << QByteArray("00000001");
    QTest::newRow("odd number of digits") << QByteArray("00000001F");
    QTest::newRow("not a digit") << QByteArray("0100100055X9");
    QTest::newRow("blank inside") << QByteArray("010010 00559A");
    QTest::newRow("trailing blank") << QByteArray("01001000559A ");
    QTest::newRow("wrong checksum") << QByteArray("01001000559B");
    QTest::newRow("count above the data") << QByteArray("020010005599");
    QTest::newRow("count below the data") << QByteArray("00001000559B");
    QTest::newRow("unknown type") << QByteArray("00000006FA");
    QTest::newRow("end of file with data") << QByteArray("0100000101FD");
    QTest::newRow("short extended linear address") << QByteArray("0100000401FA");
    QTest::newRow("long extended segment address") << QByteArray("03000002100000EB");
    QTest::newRow("short start linear address") << QByteArray("020000050000F9");
}

void tst_hex::refusesBadRecords() {
    QFETCH(QByteArray, digits);
    QVERIFY(!parseRecord(bytes(digits)));
}

void tst_hex::placesData_data() {
    QTest::addColumn<QByteArrayList>("records");
    QTest::addColumn<QStringList>("memory");

    QTest::newRow("plain offset") << QByteArrayList{":01001000559A"} << QStringList{"00000010=55"};
    QTest::newRow("extended linear address") << QByteArrayList{":020000040800F2", ":020004000102F7"}
                                             << QStringList{"08000004=01", "08000005=02"};
    QTest::newRow("extended segment address")
        << QByteArrayList{":020000021000EC", ":020004000102F7"}
        << QStringList{"00010004=01", "00010005=02"};
    QTest::newRow("segment wraps within 64 KiB")
        << QByteArrayList{":020000021000EC", ":02FFFF00AABB9B"}
        << QStringList{"00010000=BB", "0001FFFF=AA"};
    QTest::newRow("linear runs on past 64 KiB")
        << QByteArrayList{":02FFFF00AABB9B"} << QStringList{"0000FFFF=AA", "00010000=BB"};
    QTest::newRow("linear after segment stops wrapping")
        << QByteArrayList{":020000021000EC", ":020000040001F9", ":02FFFF00AABB9B"}
        << QStringList{"0001FFFF=AA", "00020000=BB"};
    QTest::newRow("end of file returns to plain offsets")
        << QByteArrayList{":020000040800F2", ":00000001FF", ":01001000559A"}
        << QStringList{"00000010=55"};
    QTest::newRow("start addresses move nothing")
        << QByteArrayList{":0400000300003800C1", ":04000005000000CD2A", ":01001000559A"}
        << QStringList{"00000010=55"};
    QTest::newRow("a later record overwrites") << QByteArrayList{":02001000556633", ":01001000AA45"}
                                               << QStringList{"00000010=AA", "00000011=66"};
}

void tst_hex::placesData() {
    QFETCH(QByteArrayList, records);
    QFETCH(QStringList, memory);

    Memory written;
    HexPass pass;
    for (const QByteArray &line : records) {
        const auto parsed = parseRecord(bytes(line.mid(1)));
        QVERIFY2(parsed, line.constData());
        pass.write(written, *parsed);
    }
    QStringList sorted = describe(written);
    sorted.sort();
    memory.sort();
    QCOMPARE(sorted, memory);
}

void tst_hex::comparesWithMemory_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("result");

    constexpr int taken = static_cast<int>(HexPass::Result::Taken);
    constexpr int endOfFile = static_cast<int>(HexPass::Result::EndOfFile);
    constexpr int mismatch = static_cast<int>(HexPass::Result::Mismatch);
    QTest::newRow("same bytes") << QByteArray(":02001000556633") << taken;
    QTest::newRow("one byte differs") << QByteArray(":02001000556732") << mismatch;
    QTest::newRow("erased byte reads FF") << QByteArray(":01002000FFE0") << taken;
    QTest::newRow("erased byte is not 00") << QByteArray(":0100200000DF") << mismatch;
    QTest::newRow("runs into erased memory") << QByteArray(":0300100055660032") << mismatch;
    QTest::newRow("end of file") << QByteArray(":00000001FF") << endOfFile;
    QTest::newRow("address record") << QByteArray(":020000040800F2") << taken;
}

void tst_hex::comparesWithMemory() {
    QFETCH(QByteArray, line);
    QFETCH(int, result);

    const Memory memory{{0x10, 0x55}, {0x11, 0x66}};
    const auto parsed = parseRecord(bytes(line.mid(1)));
    QVERIFY(parsed);
    HexPass pass;
    QCOMPARE(static_cast<int>(pass.compare(memory, *parsed)), result);
}

void tst_hex::readsFiles_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("memory");
    QTest::addColumn<int>("badLine");

    QTest::newRow("CR LF lines") << QByteArray(":01001000559A\r\n:00000001FF\r\n")
                                 << QStringList{"00000010=55"} << 0;
    QTest::newRow("LF lines and blank lines")
        << QByteArray("\n:020000040800F2\n\n:01001000559A\n:00000001FF\n")
        << QStringList{"08000010=55"} << 0;
    QTest::newRow("no line end at the end")
        << QByteArray(":01001000559A") << QStringList{"00000010=55"} << 0;
    QTest::newRow("empty file") << QByteArray() << QStringList{} << 0;
    QTest::newRow("stops at a bad line")
        << QByteArray(":01001000559A\r\nhello\r\n:01002000AA35\r\n") << QStringList{"00000010=55"}
        << 2;
    QTest::newRow("record without its colon") << QByteArray("01001000559A\n") << QStringList{} << 1;
    QTest::newRow("verify form is no file line")
        << QByteArray("#01001000559A\n") << QStringList{} << 1;
    QTest::newRow("bad checksum on line 3")
        << QByteArray("\r\n:01001000559A\r\n:01001000559B\r\n") << QStringList{"00000010=55"} << 3;
}

void tst_hex::readsFiles() {
    QFETCH(QByteArray, text);
    QFETCH(QStringList, memory);
    QFETCH(int, badLine);

    const HexImage image = readHexImage(bytes(text));
    QCOMPARE(describe(image.memory), memory);
    QCOMPARE(image.badLine, static_cast<std::size_t>(badLine));
}

QTEST_APPLESS_MAIN(tst_hex)
#include "tst_hex.moc"
