#include "SimboardTesting.h"

#include "simboard/Bootloader.h"

#include <QTest>

using namespace simboard;
using namespace simboard::testing;

namespace {

const QByteArray kVersion = "VER=4.1\r\n";
const QByteArray kOk = "OK\r\n";
const QByteArray kError = "ERROR\r\n";
const QByteArray kDownload = "DOWNLOAD\r\n";

// A small firmware: a record at 0, one at 0x10020 behind an extended linear address, the end.
const QByteArrayList kFirmware = {
    ":100000000C9434000C9446000C9446000C9446006A",
    ":020000040001F9",
    ":0400200001020304D2",
    ":00000001FF",
};

// Each record as a download line (':') or as a verify line ('#').
QByteArrayList lines(const QByteArrayList &records, char start) {
    QByteArrayList result;
    for (QByteArray record : records) {
        result << "BOOT" + record.replace(':', start) + "\r\n";
    }
    return result;
}

} // namespace

class tst_bootloader : public QObject {
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
    void takesLinesAcrossReads();
};

void tst_bootloader::answers_data() {
    QTest::addColumn<QByteArrayList>("commands");
    QTest::addColumn<QByteArrayList>("expected");
    QTest::addColumn<int>("address"); // the board's Modbus address afterwards

    QTest::newRow("info") << QByteArrayList{"BOOTi\r\n"} << QByteArrayList{kVersion} << 1;
    QTest::newRow("VER, LF alone") << QByteArrayList{"VER\n"} << QByteArrayList{kVersion} << 1;
    QTest::newRow("install") << QByteArrayList{"BOOTg\r\n"} << QByteArrayList{kOk} << 1;
    QTest::newRow("good record, lower-case digits")
        << QByteArrayList{"BOOT:01001000559a\r\n"} << QByteArrayList{kOk} << 1;
    QTest::newRow("bad checksum") << QByteArrayList{"BOOT:01001000559B\r\n"}
                                  << QByteArrayList{kError} << 1;
    QTest::newRow("count does not match")
        << QByteArrayList{"BOOT:020010005599\r\n"} << QByteArrayList{kError} << 1;
    QTest::newRow("EOF -> DOWNLOAD")
        << QByteArrayList{"BOOT:00000001FF\r\n"} << QByteArrayList{kDownload} << 1;
    QTest::newRow("download then verify, extended linear address")
        << lines(kFirmware, ':') + lines(kFirmware, '#')
        << QByteArrayList{kOk, kOk, kOk, kDownload, kOk, kOk, kOk, kDownload} << 1;
    QTest::newRow("verify mismatch, an error changes nothing")
        << QByteArrayList{"BOOT:01001000559A\r\n", "BOOT#01001000AA45\r\n", "BOOT:01001000AA44\r\n",
                          "BOOT#01001000559A\r\n"}
        << QByteArrayList{kOk, kError, kError, kOk} << 1;
    QTest::newRow("verify erased memory")
        << QByteArrayList{"BOOT#01002000FFE0\r\n", "BOOT#0100200000DF\r\n"}
        << QByteArrayList{kOk, kError} << 1;
    QTest::newRow("extended address keeps regions separate")
        << QByteArrayList{"BOOT:020000040001F9\r\n", "BOOT:01001000559A\r\n", "BOOT:00000001FF\r\n",
                          "BOOT#01001000559A\r\n"}
        << QByteArrayList{kOk, kOk, kDownload, kError} << 1;
    QTest::newRow("set address") << QByteArrayList{"BOOT$A7\r\n"} << QByteArrayList{kOk} << 0xA7;
    QTest::newRow("set address 00") << QByteArrayList{"BOOT$00\r\n"} << QByteArrayList{kError} << 1;
    QTest::newRow("set address, lower case")
        << QByteArrayList{"BOOT$0a\r\n"} << QByteArrayList{kError} << 1;
    QTest::newRow("set address, three digits")
        << QByteArrayList{"BOOT$123\r\n"} << QByteArrayList{kError} << 1;
    QTest::newRow("unknown") << QByteArrayList{"BOOTx\r\n", "BOOTI\r\n", "HELLO\r\n", "\r\n"}
                             << QByteArrayList{kError, kError, kError, kError} << 1;
    QTest::newRow("blank before the line end")
        << QByteArrayList{"BOOTi \r\n"} << QByteArrayList{kError} << 1;
}

void tst_bootloader::answers() {
    QFETCH(QByteArrayList, commands);
    QFETCH(QByteArrayList, expected);
    QFETCH(int, address);

    Bootloader board;
    QByteArrayList received;
    for (const QByteArray &command : commands) {
        const auto exchanges = board.receive(command.toStdString());
        QCOMPARE(exchanges.size(), std::size_t{1});
        QCOMPARE(qbytes(exchanges[0].command), command);
        received << qbytes(exchanges[0].answer);
    }
    QCOMPARE(received, expected);
    QCOMPARE(static_cast<int>(board.address()), address);
}

// Lines arrive in any pieces; dropped input never joins the next line.
void tst_bootloader::takesLinesAcrossReads() {
    Bootloader board;
    QVERIFY(board.receive("BO").empty());
    QVERIFY(board.receive("OTi\r").empty());
    auto exchanges = board.receive("\nBOOTg\nBOO");
    QCOMPARE(exchanges.size(), std::size_t{2});
    QCOMPARE(qbytes(exchanges[0].answer), kVersion);
    QCOMPARE(qbytes(exchanges[1].answer), kOk);
    QVERIFY(board.inputPending());

    board.dropInput();
    QVERIFY(!board.inputPending());
    exchanges = board.receive("Ti\r\n");
    QCOMPARE(exchanges.size(), std::size_t{1});
    QCOMPARE(qbytes(exchanges[0].answer), kError);
    QCOMPARE(board.commands(), (std::vector<std::string>{"BOOTi\r\n", "BOOTg\n", "Ti\r\n"}));
}

QTEST_APPLESS_MAIN(tst_bootloader)
#include "tst_bootloader.moc"
