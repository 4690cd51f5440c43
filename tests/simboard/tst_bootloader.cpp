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

// The lines of a small firmware in download form: two regions, then the end of the file.
const QByteArrayList kFirmware = {
    ":100000000C9434000C9446000C9446000C9446006A",
    ":020000040001F9",
    ":0400200001020304D2",
    ":00000001FF",
};

QByteArray downloadLine(const QByteArray &entry) {
    return "BOOT" + entry + "\r\n";
}

QByteArray verifyLine(QByteArray entry) {
    return "BOOT" + entry.replace(':', '#') + "\r\n";
}

} // namespace

class tst_bootloader : public QObject {
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
    void reportsItsVersion();
    void takesSeveralLinesAtOnce();
    void waitsForTheLineEnd();
    void dropsUnfinishedInput();
    void recordsCommands();
    void writesMemory();
    void verifiesPreloadedMemory();
    void keepsTheAddress_data();
    void keepsTheAddress();
};

void tst_bootloader::answers_data() {
    QTest::addColumn<QByteArrayList>("commands");
    QTest::addColumn<QByteArrayList>("expected");

    QTest::newRow("info") << QByteArrayList{"BOOTi\r\n"} << QByteArrayList{kVersion};
    QTest::newRow("version query") << QByteArrayList{"VER\r\n"} << QByteArrayList{kVersion};
    QTest::newRow("line ending in LF alone")
        << QByteArrayList{"BOOTi\n"} << QByteArrayList{kVersion};
    QTest::newRow("install") << QByteArrayList{"BOOTg\r\n"} << QByteArrayList{kOk};
    QTest::newRow("data record") << QByteArrayList{downloadLine(kFirmware[0])}
                                 << QByteArrayList{kOk};
    QTest::newRow("lower-case digits")
        << QByteArrayList{"BOOT:01001000559a\r\n"} << QByteArrayList{kOk};
    QTest::newRow("bad checksum") << QByteArrayList{"BOOT:01001000559B\r\n"}
                                  << QByteArrayList{kError};
    QTest::newRow("count does not match")
        << QByteArrayList{"BOOT:020010005599\r\n"} << QByteArrayList{kError};
    QTest::newRow("not hexadecimal")
        << QByteArrayList{"BOOT:0100100055X9\r\n"} << QByteArrayList{kError};
    QTest::newRow("no record") << QByteArrayList{"BOOT:\r\n"} << QByteArrayList{kError};
    QTest::newRow("unknown record type")
        << QByteArrayList{"BOOT:00000006FA\r\n"} << QByteArrayList{kError};
    QTest::newRow("end of file") << QByteArrayList{"BOOT:00000001FF\r\n"}
                                 << QByteArrayList{kDownload};
    QTest::newRow("start addresses")
        << QByteArrayList{"BOOT:0400000300003800C1\r\n", "BOOT:04000005000000CD2A\r\n"}
        << QByteArrayList{kOk, kOk};
    QTest::newRow("verify after download")
        << QByteArrayList{downloadLine(kFirmware[0]), verifyLine(kFirmware[0])}
        << QByteArrayList{kOk, kOk};
    QTest::newRow("verify mismatch")
        << QByteArrayList{"BOOT:01001000559A\r\n", "BOOT#01001000AA45\r\n"}
        << QByteArrayList{kOk, kError};
    QTest::newRow("verify erased memory")
        << QByteArrayList{"BOOT#01002000FFE0\r\n"} << QByteArrayList{kOk};
    QTest::newRow("verify never written")
        << QByteArrayList{"BOOT#0100200000DF\r\n"} << QByteArrayList{kError};
    QTest::newRow("verify end of file")
        << QByteArrayList{"BOOT#00000001FF\r\n"} << QByteArrayList{kDownload};
    QTest::newRow("verify bad record")
        << QByteArrayList{"BOOT#01002000FFE1\r\n"} << QByteArrayList{kError};
    QTest::newRow("download pass then verify pass")
        << QByteArrayList{downloadLine(kFirmware[0]), downloadLine(kFirmware[1]),
                          downloadLine(kFirmware[2]), downloadLine(kFirmware[3]),
                          verifyLine(kFirmware[0]),   verifyLine(kFirmware[1]),
                          verifyLine(kFirmware[2]),   verifyLine(kFirmware[3])}
        << QByteArrayList{kOk, kOk, kOk, kDownload, kOk, kOk, kOk, kDownload};
    QTest::newRow("extended address keeps regions apart")
        << QByteArrayList{"BOOT:020000040001F9\r\n", "BOOT:01001000559A\r\n", "BOOT:00000001FF\r\n",
                          "BOOT#01001000559A\r\n"}
        << QByteArrayList{kOk, kOk, kDownload, kError};
    QTest::newRow("set address") << QByteArrayList{"BOOT$05\r\n"} << QByteArrayList{kOk};
    QTest::newRow("set address FF") << QByteArrayList{"BOOT$FF\r\n"} << QByteArrayList{kOk};
    QTest::newRow("set address in lower case")
        << QByteArrayList{"BOOT$0a\r\n"} << QByteArrayList{kError};
    QTest::newRow("set address, one digit")
        << QByteArrayList{"BOOT$5\r\n"} << QByteArrayList{kError};
    QTest::newRow("set address, three digits")
        << QByteArrayList{"BOOT$123\r\n"} << QByteArrayList{kError};
    QTest::newRow("set address 00") << QByteArrayList{"BOOT$00\r\n"} << QByteArrayList{kError};
    QTest::newRow("unknown command") << QByteArrayList{"BOOTx\r\n"} << QByteArrayList{kError};
    QTest::newRow("prefix alone") << QByteArrayList{"BOOT\r\n"} << QByteArrayList{kError};
    QTest::newRow("no prefix") << QByteArrayList{"HELLO\r\n"} << QByteArrayList{kError};
    QTest::newRow("empty line") << QByteArrayList{"\r\n"} << QByteArrayList{kError};
    QTest::newRow("lower-case version query")
        << QByteArrayList{"ver\r\n"} << QByteArrayList{kError};
    QTest::newRow("upper-case info letter")
        << QByteArrayList{"BOOTI\r\n"} << QByteArrayList{kError};
    QTest::newRow("blank before the line end")
        << QByteArrayList{"BOOTi \r\n"} << QByteArrayList{kError};
    QTest::newRow("two CRs before the LF")
        << QByteArrayList{"BOOTi\r\r\n"} << QByteArrayList{kError};
    QTest::newRow("install with more after it")
        << QByteArrayList{"BOOTgo\r\n"} << QByteArrayList{kError};
    QTest::newRow("an error changes nothing")
        << QByteArrayList{"BOOT:01001000559A\r\n", "BOOT:01001000AA44\r\n", "BOOT#01001000559A\r\n"}
        << QByteArrayList{kOk, kError, kOk};
}

void tst_bootloader::answers() {
    QFETCH(QByteArrayList, commands);
    QFETCH(QByteArrayList, expected);

    Bootloader board;
    QByteArrayList received;
    for (const QByteArray &command : commands) {
        const auto exchanges = board.receive(bytes(command));
        QCOMPARE(exchanges.size(), std::size_t{1});
        QCOMPARE(qbytes(exchanges[0].command), command);
        received << qbytes(exchanges[0].answer);
    }
    QCOMPARE(received, expected);
}

void tst_bootloader::reportsItsVersion() {
    Bootloader board({.version = "7.3b"});
    const auto exchanges = board.receive("VER\r\nBOOTi\r\n");
    QCOMPARE(exchanges.size(), std::size_t{2});
    QCOMPARE(qbytes(exchanges[0].answer), QByteArray("VER=7.3b\r\n"));
    QCOMPARE(qbytes(exchanges[1].answer), QByteArray("VER=7.3b\r\n"));
}

void tst_bootloader::takesSeveralLinesAtOnce() {
    Bootloader board;
    const auto exchanges = board.receive("BOOTi\r\nBOOTg\nBOOTx\r\nBOO");
    QCOMPARE(exchanges.size(), std::size_t{3});
    QCOMPARE(qbytes(exchanges[0].answer), kVersion);
    QCOMPARE(qbytes(exchanges[1].answer), kOk);
    QCOMPARE(qbytes(exchanges[2].answer), kError);
    QVERIFY(board.inputPending());
}

void tst_bootloader::waitsForTheLineEnd() {
    Bootloader board;
    QVERIFY(board.receive("BO").empty());
    QVERIFY(board.receive("OTi\r").empty());
    QVERIFY(board.inputPending());
    const auto exchanges = board.receive("\n");
    QCOMPARE(exchanges.size(), std::size_t{1});
    QCOMPARE(qbytes(exchanges[0].command), QByteArray("BOOTi\r\n"));
    QCOMPARE(qbytes(exchanges[0].answer), kVersion);
    QVERIFY(!board.inputPending());
}

void tst_bootloader::dropsUnfinishedInput() {
    Bootloader board;
    QVERIFY(board.receive("BOOT").empty());
    board.dropInput();
    QVERIFY(!board.inputPending());
    const auto exchanges = board.receive("i\r\n");
    QCOMPARE(exchanges.size(), std::size_t{1});
    QCOMPARE(qbytes(exchanges[0].command), QByteArray("i\r\n"));
    QCOMPARE(qbytes(exchanges[0].answer), kError);
}

void tst_bootloader::recordsCommands() {
    Bootloader board;
    board.receive("BOOTi\r\nVER\nBOOT");
    board.receive("g\r\n\xA5\xFF\r\n");
    const std::vector<std::string> expected{"BOOTi\r\n", "VER\n", "BOOTg\r\n", "\xA5\xFF\r\n"};
    QCOMPARE(board.commands(), expected);
}

void tst_bootloader::writesMemory() {
    Bootloader board;
    for (const QByteArray &entry : kFirmware) {
        board.receive(bytes(downloadLine(entry)));
    }
    QStringList expected{"00000000=0C", "00000001=94", "00000002=34", "00000003=00"};
    for (int i = 0; i < 3; ++i) {
        expected << QStringLiteral("%1=0C").arg(4 * i + 4, 8, 16, QLatin1Char('0'))
                 << QStringLiteral("%1=94").arg(4 * i + 5, 8, 16, QLatin1Char('0'))
                 << QStringLiteral("%1=46").arg(4 * i + 6, 8, 16, QLatin1Char('0'))
                 << QStringLiteral("%1=00").arg(4 * i + 7, 8, 16, QLatin1Char('0'));
    }
    expected << "00010020=01"
             << "00010021=02"
             << "00010022=03"
             << "00010023=04";
    for (QString &item : expected) {
        item = item.toUpper();
    }
    QCOMPARE(describe(board.memory()), expected);
}

void tst_bootloader::verifiesPreloadedMemory() {
    const HexImage image = readHexImage(bytes(kFirmware.join("\r\n")));
    QCOMPARE(image.badLine, std::size_t{0});
    Bootloader board({.memory = image.memory});
    QByteArrayList answers;
    for (const QByteArray &entry : kFirmware) {
        for (const Exchange &exchange : board.receive(bytes(verifyLine(entry)))) {
            answers << qbytes(exchange.answer);
        }
    }
    QCOMPARE(answers, (QByteArrayList{kOk, kOk, kOk, kDownload}));

    Bootloader erased;
    const auto exchanges = erased.receive(bytes(verifyLine(kFirmware[0])));
    QCOMPARE(exchanges.size(), std::size_t{1});
    QCOMPARE(qbytes(exchanges[0].answer), kError);
}

void tst_bootloader::keepsTheAddress_data() {
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<int>("address");

    QTest::newRow("set to 05") << QByteArray("BOOT$05\r\n") << 0x05;
    QTest::newRow("set to A7") << QByteArray("BOOT$A7\r\n") << 0xA7;
    QTest::newRow("refused 00") << QByteArray("BOOT$00\r\n") << 0x01;
    QTest::newRow("refused lower case") << QByteArray("BOOT$a7\r\n") << 0x01;
    QTest::newRow("refused not hexadecimal") << QByteArray("BOOT$G1\r\n") << 0x01;
}

void tst_bootloader::keepsTheAddress() {
    QFETCH(QByteArray, command);
    QFETCH(int, address);

    Bootloader board;
    QCOMPARE(board.address(), std::uint8_t{1});
    board.receive(bytes(command));
    QCOMPARE(static_cast<int>(board.address()), address);
}

QTEST_APPLESS_MAIN(tst_bootloader)
#include "tst_bootloader.moc"
