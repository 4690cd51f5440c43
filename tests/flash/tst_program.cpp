// quenta-flash run as a child process against simulated boards served by this process. A job is
// judged by the exit status, the JSON report and what the boards' memories hold.
#include "BoardImage.h"
#include "simboard/PtyBoard.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quenta::testing;

namespace {

// Bounds that keep a broken program from hanging the test; never a measure of speed.
constexpr int kJobMs = 120000;
constexpr int kHangGuardMs = 15000;

void startFlasher(QProcess &process, QStringList arguments, bool unprivileged = false) {
    arguments << QStringLiteral("--json") << QStringLiteral("-q");
    arguments.prepend(QStringLiteral(QUENTA_FLASH));
    if (unprivileged) {
        arguments = QStringList{QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                                QStringLiteral("--clear-groups")} +
                    arguments;
    }
    process.start(unprivileged ? QStringLiteral("setpriv") : arguments.takeFirst(), arguments);
}

struct Outcome {
    int exit = -1;
    QJsonObject report;
    QJsonArray boards;
    QStringList results;
};

Outcome finished(QProcess &process) {
    if (!process.waitForFinished(kJobMs)) {
        qFatal("quenta-flash did not end");
    }
    Outcome outcome{process.exitCode(),
                    QJsonDocument::fromJson(process.readAllStandardOutput()).object(),
                    {},
                    {}};
    outcome.boards = outcome.report.value(QStringLiteral("boards")).toArray();
    for (const QJsonValue &board : outcome.boards) {
        outcome.results << board[QStringLiteral("result")].toString();
    }
    return outcome;
}

Outcome runFlasher(const QStringList &arguments, bool unprivileged = false) {
    QProcess process;
    startFlasher(process, arguments, unprivileged);
    return finished(process);
}

QString text(const std::string &path) {
    return QString::fromStdString(path);
}

enum class Memory { Image, NotImage, NoCommand, Any };

struct Case {
    const char *name;
    std::vector<std::uint8_t> bus; // Modbus addresses; none: one plain board
    simboard::Faults faults;
    bool preload;          // the boards already hold the file
    QStringList arguments; // PORT: the board's link; samples/..., tests/...: files of the tree
    int exit;
    QStringList results;
    Memory memory;
    QString message = {}; // a part of the first board's message
    int retries = -1;
    int resumed = -1;
    int addressAfter = -1; // the first board's bus address after the run
};

const QString kBlink = QStringLiteral("samples/blink.hex");
const QString kSpan = QStringLiteral("tests/flash/span.hex");
const QString kPort = QStringLiteral("PORT");

const std::vector<Case> &cases() {
    static const std::vector<Case> all{
        {"flash",
         {},
         {},
         false,
         {"-p", kPort, "flash", kSpan},
         0,
         {"ok"},
         Memory::Image,
         "downloaded and verified"},
        {"verify alone", {}, {}, true, {"-p", kPort, "verify", kBlink}, 0, {"ok"}, Memory::Image},
        {"verify mismatch",
         {},
         {},
         false,
         {"-p", kPort, "verify", kBlink},
         1,
         {"refused"},
         Memory::NotImage,
         "line 2: verify: the board answered \"ERROR\""},
        {"no end of file",
         {},
         {},
         false,
         {"-p", kPort, "flash", "tests/flash/no-end.hex"},
         1,
         {"refused"},
         Memory::Any,
         "never reported the end of the file"},
        {"split answers and noise",
         {},
         {.splitAnswers = true, .garbageBefore = true},
         false,
         {"-p", kPort, "flash", kBlink},
         0,
         {"ok"},
         Memory::Image,
         {},
         0},
        {"three boards, all of them",
         {3, 7, 12},
         {},
         false,
         {"-m", "-a", "all", "-p", kPort, "flash", kBlink},
         0,
         {"ok", "ok", "ok"},
         Memory::Image},
        {"scan",
         {3, 7, 12},
         {},
         false,
         {"-p", kPort, "scan"},
         0,
         {"ok", "ok", "ok"},
         Memory::NotImage},
        {"first address that answers",
         {9},
         {},
         false,
         {"-m", "-p", kPort, "verify", kBlink},
         1,
         {"refused"},
         Memory::NotImage},
        {"bad CRC and noise on a bus",
         {4},
         {.garbageBefore = true, .corruptCrcEvery = 4},
         false,
         {"-m", "-a", "4", "--timeout", "200", "-p", kPort, "flash", kBlink},
         0,
         {"ok"},
         Memory::Image},
        {"drop with lost records resumes",
         {},
         {.dropAfterLine = 16, .dropForMs = 300, .loseRecords = 5},
         false,
         {"-p", kPort, "flash", kSpan},
         0,
         {"ok"},
         Memory::Image,
         {},
         0,
         1},
        {"port never returns",
         {},
         {.dropAfterLine = 16},
         false,
         {"--wait", "0.5", "-p", kPort, "flash", kSpan},
         5,
         {"port-lost"},
         Memory::NotImage,
         "did not come back"},
        {"lost answer",
         {},
         {.withhold = {3}},
         false,
         {"--timeout", "200", "-p", kPort, "flash", kBlink},
         0,
         {"ok"},
         Memory::Image,
         {},
         1},
        {"line never answered",
         {},
         {.withhold = {3, 4, 5}},
         false,
         {"--timeout", "100", "-p", kPort, "flash", kBlink},
         4,
         {"no-answer"},
         Memory::NotImage,
         "line 2: no answer after 3 tries",
         2},
        {"silent board",
         {},
         {.silent = true},
         false,
         {"--wait", "0.5", "-p", kPort, "check"},
         4,
         {"no-answer"},
         Memory::Any,
         "check the speed (115200 baud)"},
        {"not a HEX file",
         {},
         {},
         false,
         {"-p", kPort, "flash", "samples/blink.asm"},
         2,
         {"bad-file"},
         Memory::NoCommand,
         "is no Intel HEX file: line 1"},
        {"missing file",
         {},
         {},
         false,
         {"-p", kPort, "flash", "samples/none.hex"},
         2,
         {"bad-file"},
         Memory::NoCommand,
         "cannot read"},
        {"missing port",
         {},
         {},
         false,
         {"-p", "/dev/quenta-none", "version"},
         3,
         {"port-error"},
         Memory::NoCommand,
         "There is no /dev/quenta-none"},
        {"usage error",
         {},
         {},
         false,
         {"-b", "1200", "-p", kPort, "version"},
         2,
         {},
         Memory::NoCommand},
        {"USB board appears",
         {},
         {.appearAfterMs = 500},
         false,
         {"--usb", "-p", kPort, "flash", kBlink},
         0,
         {"ok"},
         Memory::Image},
        {"USB board never appears",
         {},
         {.appearAfterMs = 60000},
         false,
         {"--usb", "--wait", "0.3", "-p", kPort, "version"},
         3,
         {"port-error"},
         Memory::NoCommand},
        {"version", {}, {}, false, {"-p", kPort, "version"}, 0, {"ok"}, Memory::Any, "VER=4.1"},
        {"install",
         {},
         {},
         false,
         {"-p", kPort, "install"},
         0,
         {"ok"},
         Memory::Any,
         "the firmware was started"},
        {"check",
         {},
         {},
         false,
         {"-p", kPort, "check"},
         0,
         {"ok"},
         Memory::Any,
         "at 115200 baud, bootloader VER=4.1"},
        {"set-address",
         {5},
         {},
         false,
         {"-m", "-a", "5", "-p", kPort, "set-address", "9"},
         0,
         {"ok"},
         Memory::Any,
         {},
         -1,
         -1,
         9},
    };
    return all;
}

simboard::Options boardsFor(const Case &c, const simboard::Memory &image) {
    simboard::Options options;
    options.faults = c.faults;
    if (!c.bus.empty()) {
        options.boards.clear();
        for (const std::uint8_t address : c.bus) {
            options.boards.push_back({true, address, "4.1", {}});
        }
    }
    for (simboard::BootloaderOptions &board : options.boards) {
        board.memory = c.preload ? image : simboard::Memory{};
    }
    return options;
}

} // namespace

class FlashProgram : public QObject {
    Q_OBJECT
private slots:
    void jobs_data() {
        QTest::addColumn<int>("row");
        for (std::size_t row = 0; row < cases().size(); ++row) {
            QTest::newRow(cases()[row].name) << static_cast<int>(row);
        }
    }
    void jobs() {
        QFETCH(int, row);
        const Case &c = cases()[static_cast<std::size_t>(row)];
        QString file =
            sourcePath(c.arguments.contains(kSpan) ? kSpan.toLatin1() : "samples/blink.hex");
        QTemporaryDir dir;
        simboard::PtyBoard board(boardsFor(c, imageOf(file)),
                                 dir.filePath(QStringLiteral("board")).toStdString());
        board.start();
        QStringList arguments;
        for (const QString &argument : c.arguments) {
            const bool inTree = argument.startsWith(QLatin1String("samples/")) ||
                                argument.startsWith(QLatin1String("tests/"));
            arguments << (argument == kPort ? text(board.path())
                          : inTree          ? sourcePath(argument.toLatin1().constData())
                                            : argument);
        }
        const Outcome outcome = runFlasher(arguments);
        QCOMPARE(outcome.exit, c.exit);
        QCOMPARE(outcome.report.value(QStringLiteral("exit")).toInt(), c.exit);
        QCOMPARE(outcome.results, c.results);
        const QJsonObject first = outcome.boards.at(0).toObject();
        QVERIFY2(first.value(QStringLiteral("message")).toString().contains(c.message),
                 qPrintable(first.value(QStringLiteral("message")).toString()));
        if (c.retries >= 0) {
            QCOMPARE(first.value(QStringLiteral("retries")).toInt(), c.retries);
        }
        if (c.resumed >= 0) {
            QCOMPARE(first.value(QStringLiteral("resumed")).toInt(), c.resumed);
        }
        if (c.addressAfter >= 0) {
            QCOMPARE(board.address(), c.addressAfter);
        }
        for (std::size_t b = 0; b < std::max<std::size_t>(1, c.bus.size()); ++b) {
            if (c.memory == Memory::Image) {
                QCOMPARE(board.memory(b), imageOf(file));
            } else if (c.memory == Memory::NotImage) {
                QVERIFY(board.memory(b) != imageOf(file));
            }
        }
        if (c.memory == Memory::NoCommand) {
            QVERIFY(board.commands().empty());
        }
    }

    void twoPortsAtOnce() {
        QTemporaryDir dir;
        simboard::PtyBoard one({}, dir.filePath(QStringLiteral("one")).toStdString());
        simboard::PtyBoard two({}, dir.filePath(QStringLiteral("two")).toStdString());
        one.start();
        two.start();
        const QString file = sourcePath("tests/flash/span.hex");
        const Outcome outcome =
            runFlasher({"-p", text(one.path()), "-p", text(two.path()), "flash", file});
        QCOMPARE(outcome.exit, 0);
        QCOMPARE(outcome.results, QStringList({"ok", "ok"}));
        QCOMPARE(one.memory(), imageOf(file));
        QCOMPARE(two.memory(), imageOf(file));
    }

    // A second flasher finds the port in use; the first one's job goes on undisturbed.
    void busyPort() {
        QTemporaryDir dir;
        simboard::Options options;
        options.faults.withhold = {3};
        simboard::PtyBoard board(options, dir.filePath(QStringLiteral("board")).toStdString());
        board.start();
        const QString file = sourcePath("samples/blink.hex");
        QProcess holder;
        startFlasher(holder, {"--timeout", "3000", "-p", text(board.path()), "flash", file});
        QTRY_VERIFY_WITH_TIMEOUT(board.commands().size() >= 3, kHangGuardMs);
        const Outcome busy = runFlasher({"-p", text(board.path()), "check"});
        QCOMPARE(busy.exit, 3);
        QCOMPARE(busy.results, QStringList{"port-error"});
        const QJsonArray checks = busy.report.value(QStringLiteral("checks")).toArray();
        const QJsonObject last = checks.last().toObject();
        QCOMPARE(last.value(QStringLiteral("name")).toString(), QStringLiteral("free"));
        QVERIFY2(
            last.value(QStringLiteral("message")).toString().contains("in use by quenta-flash"),
            qPrintable(last.value(QStringLiteral("message")).toString()));
        const Outcome held = finished(holder);
        QCOMPARE(held.exit, 0);
        QCOMPARE(board.memory(), imageOf(file));
    }

    // As root the flasher runs as nobody, for whom the device is of a group it is not in.
    void noPermission() {
        simboard::PtyBoard board;
        board.start();
        const QByteArray device = QFile::encodeName(text(board.devicePath()));
        const bool root = ::geteuid() == 0;
        if (root) {
            const group *dialout = ::getgrnam("dialout");
            QVERIFY(dialout && ::chown(device.constData(), 0, dialout->gr_gid) == 0);
        }
        QCOMPARE(::chmod(device.constData(), root ? 0660 : 0), 0);
        const Outcome outcome = runFlasher({"-p", text(board.devicePath()), "check"}, root);
        QCOMPARE(outcome.exit, 3);
        QCOMPARE(outcome.results, QStringList{"port-error"});
        const QString message = outcome.boards.at(0)[QStringLiteral("message")].toString();
        QVERIFY2(message.contains(root ? "sudo adduser $USER dialout" : "may not use"),
                 qPrintable(message));
        QVERIFY(board.commands().empty());
    }
};

QTEST_GUILESS_MAIN(FlashProgram)
#include "tst_program.moc"
