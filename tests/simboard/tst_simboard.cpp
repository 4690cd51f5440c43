#include "Frames.h"
#include "simboard/CommandLine.h"
#include "simboard/PtyBoard.h"

#include <QProcess>
#include <QTest>

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using namespace simboard;
using namespace quenta::testing;

Q_DECLARE_METATYPE(simboard::Memory)

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

// What the program would serve with these options.
CommandLine servedWith(const QStringList &arguments) {
    QByteArrayList texts{"quenta-simboard"};
    for (const QString &argument : arguments) {
        texts << argument.toUtf8();
    }
    std::vector<const char *> argv;
    for (const QByteArray &text : texts) {
        argv.push_back(text.constData());
    }
    return parseCommandLine(static_cast<int>(argv.size()), argv.data());
}

} // namespace

class tst_simboard : public QObject {
    Q_OBJECT

private slots:
    // Commands sent at once to boards on a pty, served with the program's options, and what comes
    // back; with a second exchange, the port goes away after the first and comes back under its
    // link 500 ms later for the second.
    void line_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<Memory>("held");          // before any download
        QTest::addColumn<QByteArrayList>("talks"); // sent, answers; after a drop, again
        QTest::addColumn<int>("drops");
        QTest::addColumn<Memory>("memory");  // of the last board
        QTest::addColumn<qint64>("leastNs"); // no earlier than this after start, the answers are in
        const auto row = [](const char *name, const QStringList &arguments, const char *sent,
                            const char *answers, const Memory &memory, qint64 leastNs = 0) {
            QTest::newRow(name) << arguments << Memory{}
                                << QByteArrayList{lines(sent, "BOOT"), lines(answers)} << 0
                                << memory << leastNs;
        };
        row("04 linear, written then verified", {},
            ":020000040001F9 :0400200001020304D2 :00000001FF #020000040001F9 #0400200001020304D2 "
            "#00000001FF",
            "OK OK DOWNLOAD OK OK DOWNLOAD",
            {{0x10020, 1}, {0x10021, 2}, {0x10022, 3}, {0x10023, 4}});
        row("02 segment: offsets wrap within it", {},
            ":020000021000EC :02FFFF00AABB9B #02FFFF00AABB9B", "OK OK OK",
            {{0x1FFFF, 0xAA}, {0x10000, 0xBB}});
        row("00: verify compares by address, erased reads FF", {},
            ":01001000559A #01001000AA45 #01002000FFE0", "OK ERROR OK", {{0x10, 0x55}});
        row("verify differences told at the end, afresh each pass", {"--verify-at-end"},
            ":01001000559A :00000001FF #01001000AA45 #01002000FFE0 #00000001FF #01001000559A "
            "#00000001FF",
            "OK DOWNLOAD OK OK ERROR OK DOWNLOAD", {{0x10, 0x55}});
        row("paced at 9600 baud", {"--baud", "9600"}, "i i", "VER=4.1 VER=4.1", {}, 33333333);
        row("a byte at a time at 9600 baud", {"--trickle"}, "i", "VER=4.1", {}, 8000000);
        row("held to the adapter's latency tick", {"--latency", "300"}, "i i", "VER=4.1 VER=4.1",
            {}, 300000000);
        row("a late answer, the later ones behind it", {"--late", "2:300"}, "i g i",
            "VER=4.1 OK VER=4.1", {}, 300000000);
        QTest::newRow("Modbus: answers from the address it took")
            << QStringList{"--modbus"} << Memory{}
            << QByteArrayList{qbytes(commandFrame(1, "BOOT$07\r\n") + commandFrame(1, "BOOTi\r\n") +
                                     commandFrame(7, "BOOTi\r\n")),
                              qbytes(answerFrame(1, "OK\r\n") + answerFrame(7, "VER=4.1\r\n"))}
            << 0 << Memory{} << qint64{0};
        const auto dropRow = [](const char *name, const QStringList &arguments, const Memory &held,
                                const char *first, const char *firstAnswers, const char *second,
                                const char *secondAnswers, int drops, const Memory &memory) {
            QTest::newRow(name) << arguments + QStringList{"--drop-for", "500"} << held
                                << QByteArrayList{lines(first, "BOOT"), lines(firstAnswers),
                                                  lines(second, "BOOT"), lines(secondAnswers)}
                                << drops << memory << qint64{0};
        };
        // The last two records are lost, and so is the extended address.
        dropRow("drop after the fourth line", {"--drop-after", "4", "--lose", "2"},
                {{0x10011, 0x11}}, ":020000040001F9 :01001000559A :010011006688 :010012007776",
                "OK OK OK OK", ":010012007776", "OK", 1,
                {{0x10010, 0x55}, {0x10011, 0x11}, {0x12, 0x77}});
        // The end record begins the count afresh, and so does the reboot.
        dropRow("reset at the second line of each pass", {"--reset-at", "2"}, {},
                ":00000001FF :01001000559A :010011006688", "DOWNLOAD OK OK",
                ":01001000559A :010011006688", "OK OK", 2, {{0x10, 0x55}, {0x11, 0x66}});
        dropRow("another board after the drop", {"--drop-after", "1", "--swap-after-drop", "5.0"},
                {{0x20, 0x12}}, ":01001000559A", "OK", "i", "VER=5.0", 1, {});
    }

    void line() {
        QFETCH(QStringList, arguments);
        QFETCH(Memory, held);
        QFETCH(QByteArrayList, talks);
        QFETCH(int, drops);
        QFETCH(Memory, memory);
        QFETCH(qint64, leastNs);
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("board"));
        CommandLine line = servedWith(arguments + QStringList{"--link", link});
        line.options.boards.front().memory = held;
        const auto start = std::chrono::steady_clock::now();
        PtyBoard board(line.options, line.link);
        board.start();
        for (qsizetype talk = 0; talk < talks.size(); talk += 2) {
            QTRY_VERIFY(QFileInfo::exists(link));
            const Port port(line.link);
            QVERIFY(port.write(talks[talk].toStdString()));
            QCOMPARE(port.read(talks[talk + 1].size()), talks[talk + 1]);
            if (talk + 2 < talks.size()) {
                QTRY_COMPARE(board.drops(), 1);
                QVERIFY(!QFileInfo::exists(link) && !port.write("BOOTi\r\n"));
            }
        }
        QCOMPARE_GE(std::chrono::nanoseconds(std::chrono::steady_clock::now() - start).count(),
                    leastNs);
        QTRY_COMPARE(board.drops(), drops);
        QVERIFY(board.memory(line.options.boards.size() - 1) == memory);
    }

    // A verify pass begins afresh after a reboot: the difference before it is forgotten.
    void verifyDifferenceForgottenAtReboot() {
        Bootloader board({.verifyReportsAtEnd = true});
        QCOMPARE(qbytes(board.receive("BOOT#01001000AA45\r\n").at(0).answer), "OK\r\n");
        board.reboot(0);
        QCOMPARE(qbytes(board.receive("BOOT#00000001FF\r\n").at(0).answer), "DOWNLOAD\r\n");
    }

    void commandLine_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("shown"); // how standard output (exit 0) or error begins

        const QByteArray error = "quenta-simboard: ";
        QTest::newRow("version") << QStringList{"--version"} << 0
                                 << QByteArray("quenta-simboard 4.1.0\n");
        QTest::newRow("a bus without Modbus")
            << QStringList{"--address", "3,7"} << 2
            << error + "several addresses make a bus, which needs --modbus";
        QTest::newRow("another board without a return")
            << QStringList{"--swap-after-drop", "5.0", "--drop-after", "3"} << 2
            << error + "--swap-after-drop needs --drop-for";
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
