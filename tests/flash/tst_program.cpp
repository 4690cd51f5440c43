// quenta-flash run as a child process against simulated boards served by this process. A job is
// judged by the exit status, the JSON report and what the boards' memories hold.
#include "BoardImage.h"
#include "Flasher.h"

#include <QTest>

#include <csignal>
#include <grp.h>
#include <map>
#include <sys/stat.h>

using namespace quenta::testing;

namespace {

QStringList words(const QString &text) {
    return text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// The run with its report as JSON on standard output and no progress.
FlasherRun flash(QStringList arguments, bool unprivileged = false) {
    return runFlasher(arguments << "--json"
                                << "-q",
                      unprivileged);
}

QStringList results(const FlasherRun &run) {
    QStringList results;
    for (const QJsonValue &board : run.report()["boards"].toArray()) {
        results << board["result"].toString();
    }
    return results;
}

// "bus=3,7,12 preload bare drop=N back=MS lose=K withhold=N,M appear=MS": Modbus boards at these
// addresses (else one plain board), holding the file already, and faults.
simboard::Options boardsFor(const QString &setup, const simboard::Memory &image) {
    std::map<QString, std::vector<int>> given;
    for (const QString &word : words(setup)) {
        for (const QString &value : word.section(QLatin1Char('='), 1).split(QLatin1Char(','))) {
            given[word.section(QLatin1Char('='), 0, 0)].push_back(value.toInt());
        }
    }
    const auto number = [&](const char *key, int otherwise) {
        return given.count(key) != 0 ? given[key][0] : otherwise;
    };
    simboard::Options options{
        .faults = {.bareFrames = given.count("bare") != 0,
                   .appearAfterMs = number("appear", 0),
                   .dropAfterLine = number("drop", 0),
                   .dropForMs = number("back", -1),
                   .loseRecords = number("lose", 0),
                   .withhold = {given["withhold"].begin(), given["withhold"].end()}}};
    if (given.count("bus") != 0) {
        options.boards.clear();
        for (const int address : given["bus"]) {
            options.boards.push_back({true, static_cast<std::uint8_t>(address), "4.1", {}});
        }
    }
    for (simboard::BootloaderOptions &board : options.boards) {
        board.memory = given.count("preload") != 0 ? image : simboard::Memory{};
    }
    return options;
}

// The jobs, one a line (a line that ends with \ goes on in the next): boards (see boardsFor) |
// arguments (PORT: the board's link, DEVICE: its device; BLINK, SPAN: the sample and a file of
// three segments; @: a file of the tree) | exit | results | memory (image, other, untouched: no
// command taken, any) | a part of the first board's message | its figures (now: its bus address
// afterwards).
const char *const kJobs = R"(preload|-p PORT verify BLINK|0|ok|image|verified|
|-p PORT verify BLINK|1|refused|other|line 2: verify: the board answered "ERROR"|
bus=3,7,12|-m -a 3-12 -p PORT flash BLINK|0|ok ok ok|image||
bus=3,7,12|-a 3-12 -p PORT scan|0|ok ok ok|other|VER=4.1|address=3
bus=13|-a 3-12 --wait 0.2 -p PORT scan|4|no-answer|untouched|no board answered on the addresses \
3..12 at 115200 baud|
bus=9|-m -p PORT flash BLINK|0|ok|image||address=9
bus=4 bare|-m -a 4 -p PORT flash BLINK|0|ok|image||retries=0
drop=16 back=300 lose=5|-p PORT flash SPAN|0|ok|image||resumed=1
drop=16|--wait 0.5 -p PORT flash SPAN|5|port-lost|other|at line 17 of the download|
withhold=3,4,5|--timeout 100 -p PORT flash BLINK|4|no-answer|other|line 2: no answer after 3 \
tries|retries=2
|-p PORT flash @samples/blink.asm|2|bad-file|untouched|is not an Intel HEX file: line 1 does not \
start with ':'|
|--usb --wait 0.3 -p usb:quenta-none version|3|port-error|untouched|No USB serial port has the \
serial number quenta-none.|
|-p /dev/null version|3|port-error|untouched|/dev/null is not a serial port|
appear=500|--usb -p PORT flash BLINK|0|ok|image||
appear=60000|--usb --wait 0.3 -p PORT version|3|port-error|untouched||
|-p PORT install|0|ok|any|the firmware was started|
|-p PORT check|0|ok|any|at 115200 baud, bootloader VER=4.1|
|-p PORT -p /dev/quenta-none flash BLINK|3|ok port-error|any||
|-p PORT -p DEVICE flash BLINK|2||untouched||
withhold=1|--wait 0.5 -p PORT version|0|ok|any|VER=4.1|
bus=5|-m -a 5 -p PORT set-address 9|0|ok|any||now=9)";

} // namespace

class FlashProgram : public QObject {
    Q_OBJECT

    QTemporaryDir data_;

private slots:
    // The flasher keeps its journal in the test's own folder.
    void initTestCase() {
        QVERIFY(data_.isValid());
        qunsetenv("QUENTA_JOURNAL");
        qputenv("XDG_DATA_HOME", QFile::encodeName(data_.path()));
    }

    void jobs_data() {
        QTest::addColumn<QString>("row");
        for (const QString &row : QString(kJobs).replace("\\\n", "").split('\n')) {
            QTest::newRow(qPrintable(row.section('|', 0, 1))) << row;
        }
    }

    void jobs() {
        QFETCH(QString, row);
        const QStringList column = row.split(QLatin1Char('|'));
        const QString file = column[1].contains(QLatin1String("SPAN")) ? kSpanHex : kBlinkHex;
        const simboard::Memory image = imageOf(file);
        LinkedBoard board(boardsFor(column[0], image));
        QStringList command;
        for (const QString &word : words(column[1])) {
            command << (word == QLatin1String("PORT")     ? board.port()
                        : word == QLatin1String("DEVICE") ? board.device()
                        : word == QLatin1String("BLINK") || word == QLatin1String("SPAN") ? file
                        : word.startsWith(QLatin1Char('@')) ? sourcePath(word.mid(1))
                                                            : word);
        }
        const FlasherRun run = flash(command);
        QCOMPARE(run.exit, column[2].toInt());
        QCOMPARE(results(run), words(column[3]));
        if (column[3].isEmpty()) {
            QVERIFY(board.commands().empty());
            return;
        }
        const QJsonObject first = run.board();
        QVERIFY2(first["message"].toString().contains(column[5]), run.out.constData());
        for (const QString &count : words(column[6])) {
            const QString key = count.section(QLatin1Char('='), 0, 0);
            QCOMPARE(key == QLatin1String("now") ? board.address() : first.value(key).toInt(),
                     count.section(QLatin1Char('='), 1).toInt());
        }
        for (qsizetype b = 0; b < results(run).size(); ++b) {
            if (column[4] == QLatin1String("image") || column[4] == QLatin1String("other")) {
                QCOMPARE(board.memory(std::size_t(b)) == image,
                         column[4] == QLatin1String("image"));
            }
        }
        QCOMPARE(board.commands().empty(), column[4] == QLatin1String("untouched"));
    }

    // Two ports at once; a third flasher finds one of them in use, and the jobs go on undisturbed.
    void busyPort() {
        // The answer to the third command keeps the port busy for 4 s, within the timeout.
        LinkedBoard one({{simboard::BootloaderOptions{}}, {.lateMs = {{3, 4000}}}, {}});
        LinkedBoard two;
        QProcess holder;
        QVERIFY(startedOn(
            holder, one,
            {"--timeout", "4500", "-q", "-p", one.port(), "-p", two.port(), "flash", kSpanHex}, 3));
        const FlasherRun busy = flash({"-p", one.port(), "check"});
        QCOMPARE(busy.exit, 3);
        QCOMPARE(results(busy), QStringList{"port-error"});
        QVERIFY2(busy.out.contains("is in use by quenta-flash"), busy.out.constData());
        QCOMPARE(finished(holder).exit, 0);
        QCOMPARE(one.memory(), imageOf(kSpanHex));
        QCOMPARE(two.memory(), imageOf(kSpanHex));
    }

    // The run stops at once, reports every unfinished board and ends with 128 + the signal.
    void interrupted_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void interrupted() {
        QFETCH(int, signal);
        LinkedBoard board(pacedAt(9600));
        QProcess flasher;
        QVERIFY(startedOn(flasher, board, {"--json", "-q", "-p", board.port(), "flash", kSpanHex}));
        ::kill(static_cast<pid_t>(flasher.processId()), signal);
        const FlasherRun run = finished(flasher);
        QCOMPARE(run.exit, 128 + signal);
        QCOMPARE(results(run), QStringList{"interrupted"});
        QVERIFY2(run.board()["message"].toString().contains("of the download"), run.out.data());
        const std::size_t taken = board.commands().size();
        QTest::qWait(300);
        QCOMPARE(board.commands().size(), taken);
    }

    void reportNotWritten() {
        QProcess flasher;
        flasher.setStandardOutputFile(QStringLiteral("/dev/full"));
        startFlasher(flasher, {"--json", "ports"});
        const FlasherRun run = finished(flasher);
        QCOMPARE(run.exit, 6);
        QVERIFY(run.err.contains("could not be written"));
    }

    // A device the flasher may not use is refused with what to do about it (as root the flasher
    // runs as nobody, for whom the device is of a group it is not in). udev gives a USB port its
    // group a moment after it appears: --usb waits for that too.
    void permission() {
        LinkedBoard board;
        const QByteArray device = QFile::encodeName(board.device());
        const bool root = ::geteuid() == 0;
        if (root) {
            const group *dialout = ::getgrnam("dialout");
            QVERIFY(dialout && ::chown(device.constData(), 0, dialout->gr_gid) == 0);
        }
        QCOMPARE(::chmod(device.constData(), root ? 0660 : 0), 0);
        const FlasherRun refused = flash({"-p", board.device(), "check"}, true);
        QCOMPARE(refused.exit, 3);
        QCOMPARE(results(refused), QStringList{"port-error"});
        QVERIFY2(refused.out.contains(root ? "sudo adduser $USER dialout" : "may not use"),
                 refused.out.constData());
        QVERIFY(board.commands().empty());
        QProcess flasher;
        startFlasher(flasher, {"--usb", "--wait", "20", "--json", "-p", board.device(), "version"},
                     true);
        QTest::qWait(500);
        QCOMPARE(::chmod(device.constData(), root ? 0666 : 0600), 0);
        const FlasherRun run = finished(flasher);
        QCOMPARE(run.exit, 0);
        QCOMPARE(run.board()["message"].toString(), "VER=4.1");
    }
};

QTEST_GUILESS_MAIN(FlashProgram)
#include "tst_program.moc"
