#include "Frames.h"
#include "simboard/PtyBoard.h"

#include <QtTest>

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using namespace simboard;
using namespace quenta::testing;

Q_DECLARE_METATYPE(simboard::Memory)
Q_DECLARE_METATYPE(simboard::Options)

namespace {

// The program's end of a board: its path opened as a serial port is.
struct Port {
    explicit Port(const std::string &path) : fd(::open(path.c_str(), O_RDWR | O_NONBLOCK)) {}
    ~Port() { ::close(fd); }
    bool write(std::string_view bytes) const {
        return ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // Up to `count` bytes; fewer only when the port broke or ten seconds passed without a byte.
    QByteArray read(qsizetype count) const {
        QByteArray bytes;
        char byte = 0;
        for (pollfd in{fd, POLLIN, 0};
             bytes.size() < count && ::poll(&in, 1, 10000) > 0 && ::read(fd, &byte, 1) == 1;) {
            bytes += byte;
        }
        return bytes;
    }
    const int fd;
};

// "a b" -> "a" CR LF "b" CR LF, each behind the prefix.
QByteArray lines(const char *words, const QByteArray &prefix = {}) {
    return prefix + QByteArray(words).replace(" ", "\r\n" + prefix) + "\r\n";
}

} // namespace

class tst_simboard : public QObject {
    Q_OBJECT

private slots:
    // Published CRC-16/MODBUS check values, low byte first behind the bytes.
    void crc_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("framed");
        QTest::newRow("123456789") << QByteArray("123456789") << QByteArray("123456789\x37\x4B");
        QTest::newRow("abc") << QByteArray("abc") << QByteArray("abc\x49\x57");
        QTest::newRow("empty") << QByteArray() << QByteArray("\xFF\xFF");
        QTest::newRow("one 00 byte") << QByteArray(1, '\0') << QByteArray::fromHex("00BF40");
    }

    void crc() {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, framed);
        QCOMPARE(qbytes(withCrc(bytes.toStdString())), framed);
    }

    // Commands sent at once to boards on a pty, and what comes back.
    void line_data() {
        QTest::addColumn<Options>("options");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("answers");
        QTest::addColumn<Memory>("memory");  // of the last board
        QTest::addColumn<qint64>("leastNs"); // no earlier than this, the answers are all in

        QTest::newRow("04 linear, written then verified")
            << Options{}
            << lines(":020000040001F9 :0400200001020304D2 :00000001FF #020000040001F9 "
                     "#0400200001020304D2 #00000001FF",
                     "BOOT")
            << lines("OK OK DOWNLOAD OK OK DOWNLOAD")
            << Memory{{0x10020, 1}, {0x10021, 2}, {0x10022, 3}, {0x10023, 4}} << qint64{0};
        QTest::newRow("02 segment: offsets wrap within it")
            << Options{} << lines(":020000021000EC :02FFFF00AABB9B #02FFFF00AABB9B", "BOOT")
            << lines("OK OK OK") << Memory{{0x1FFFF, 0xAA}, {0x10000, 0xBB}} << qint64{0};
        QTest::newRow("00: verify compares by address, erased reads FF")
            << Options{} << lines(":01001000559A #01001000AA45 #01002000FFE0", "BOOT")
            << lines("OK ERROR OK") << Memory{{0x10, 0x55}} << qint64{0};
        QTest::newRow("paced at 9600 baud")
            << Options{.faults = {.baud = 9600}} << lines("i i", "BOOT") << lines("VER=4.1 VER=4.1")
            << Memory{} << qint64{33333333};
    }

    void line() {
        QFETCH(Options, options);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, answers);
        QFETCH(Memory, memory);
        QFETCH(qint64, leastNs);
        PtyBoard board(options);
        board.start();
        const Port port(board.path());
        const auto start = std::chrono::steady_clock::now();
        QVERIFY(port.write(sent.toStdString()));
        QCOMPARE(port.read(answers.size()), answers);
        QCOMPARE_GE(std::chrono::nanoseconds(std::chrono::steady_clock::now() - start).count(),
                    leastNs);
        QVERIFY(board.memory(options.boards.size() - 1) == memory);
    }

    // The port goes away after the fourth download line, taking the last two records with it, and
    // comes back under its link as a rebooted board: its extended address is gone.
    void dropLosesRecordsAndComesBack() {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("board"));
        PtyBoard board({.boards = {{.memory = {{0x10011, 0x11}}}},
                        .faults = {.dropAfterLine = 4, .dropForMs = 500, .loseRecords = 2}},
                       link.toStdString());
        board.start();
        const Port port(link.toStdString());
        QVERIFY(
            port.write(lines(":020000040001F9 :01001000559A :010011006688 :010012007776", "BOOT")
                           .toStdString()));
        QCOMPARE(port.read(16), lines("OK OK OK OK"));
        QTRY_COMPARE(board.drops(), 1);
        QVERIFY(!QFileInfo::exists(link) && !port.write("BOOTi\r\n"));
        QTRY_VERIFY(QFileInfo::exists(link));
        const Port again(link.toStdString());
        QVERIFY(again.write("BOOT:010012007776\r\n"));
        QCOMPARE(again.read(4), QByteArray("OK\r\n"));
        QVERIFY(board.memory() == (Memory{{0x10010, 0x55}, {0x10011, 0x11}, {0x12, 0x77}}));
    }

    void commandLine_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("shown"); // how standard output (exit 0) or error begins

        const QByteArray error = "quenta-simboard: ";
        QTest::newRow("version") << QStringList{"--version"} << 0
                                 << QByteArray("quenta-simboard 4.1.0\n");
        QTest::newRow("help") << QStringList{"--help"} << 0 << QByteArray("Usage: quenta-simboard");
        QTest::newRow("a bus without Modbus")
            << QStringList{"--address", "3,7"} << 2
            << error + "several addresses make a bus, which needs --modbus";
    }

    void commandLine() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, shown);
        QProcess program;
        program.start(QStringLiteral(SIMBOARD_PROGRAM), arguments);
        QVERIFY(program.waitForFinished());
        QCOMPARE(program.exitCode(), exitCode);
        const QByteArray text =
            exitCode == 0 ? program.readAllStandardOutput() : program.readAllStandardError();
        QVERIFY2(text.startsWith(shown), text);
    }
};

QTEST_GUILESS_MAIN(tst_simboard)
#include "tst_simboard.moc"
