#include "SimboardTesting.h"

#include "link/ModbusFrame.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <filesystem>

using namespace simboard::testing;
using namespace std::chrono_literals;

namespace {

namespace fs = std::filesystem;

constexpr int kGenerousMs = 10000;

bool linkExists(const QString &path) {
    std::error_code error;
    return fs::is_symlink(fs::symlink_status(path.toStdString(), error));
}

// The program, started and announced; stopped by SIGTERM at the end unless a test stops it.
class Simboard {
public:
    explicit Simboard(const QStringList &arguments) {
        process_.start(QStringLiteral(SIMBOARD_PROGRAM), arguments);
    }
    ~Simboard() {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            process_.waitForFinished(kGenerousMs);
        }
    }

    // The line the program prints once its board is there; empty if none came.
    QString announcement() {
        while (!process_.canReadLine() && process_.waitForReadyRead(kGenerousMs)) {
        }
        return QString::fromLocal8Bit(process_.readLine());
    }

    // Sends `signal` and waits for the program to end; whether it ended by itself with code 0.
    bool stopsCleanly(int signal) {
        ::kill(static_cast<pid_t>(process_.processId()), signal);
        return process_.waitForFinished(kGenerousMs) &&
               process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
    }

    QProcess &process() { return process_; }

private:
    QProcess process_;
};

// Runs the program to its end; its exit code, and what it printed.
struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run runToEnd(const QStringList &arguments) {
    QProcess process;
    process.start(QStringLiteral(SIMBOARD_PROGRAM), arguments);
    Run run;
    if (process.waitForFinished(kGenerousMs) && process.exitStatus() == QProcess::NormalExit) {
        run.exitCode = process.exitCode();
    }
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

const QRegularExpression kAnnouncement(QStringLiteral(
    R"(^Simulated board on (/dev/pts/\d+)( \(link (.+)\))?(, Modbus address (\d+))?\n$)"));

} // namespace

class tst_cli : public QObject {
    Q_OBJECT

private slots:
    void init();

    void servesUntilSignalled_data();
    void servesUntilSignalled();
    void announcesTheTerminal();
    void preloadsMemory();
    void printsExchanges();
    void passesFaultsOn_data();
    void passesFaultsOn();
    void appearsLate();
    void refusesBadUsage_data();
    void refusesBadUsage();
    void refusesBadPreload_data();
    void refusesBadPreload();
    void printsHelp();

private:
    QString path(const QString &name) const { return dir_->filePath(name); }

    std::unique_ptr<QTemporaryDir> dir_;
};

void tst_cli::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void tst_cli::servesUntilSignalled_data() {
    QTest::addColumn<int>("signal");

    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
}

void tst_cli::servesUntilSignalled() {
    QFETCH(int, signal);

    const QString link = path(QStringLiteral("board"));
    Simboard program({"--modbus", "--address", "7", "--version", "9.9", "--link", link});
    const QRegularExpressionMatch match = kAnnouncement.match(program.announcement());
    QVERIFY2(match.hasMatch(), qPrintable(match.captured()));
    QCOMPARE(match.captured(3), link);
    QCOMPARE(match.captured(5), QStringLiteral("7"));
    QCOMPARE(QString::fromStdString(fs::read_symlink(link.toStdString()).string()),
             match.captured(1));

    SlavePort port(link.toStdString());
    QVERIFY(port.isOpen());
    const std::string answer = quenta::modbusFrame(7, "BVER=9.9\r\n");
    QVERIFY(port.write(quenta::modbusFrame(7, "BOOTi\r\n")));
    QCOMPARE(
        qbytes(port.readUntil([&](const std::string &r) { return r.size() >= answer.size(); })),
        qbytes(answer));

    QVERIFY(program.stopsCleanly(signal));
    QVERIFY(!linkExists(link));
}

void tst_cli::announcesTheTerminal() {
    Simboard program({});
    const QString line = program.announcement();
    const QRegularExpressionMatch match = kAnnouncement.match(line);
    QVERIFY2(match.hasMatch(), qPrintable(line));
    QVERIFY(match.captured(2).isEmpty());
    QVERIFY(match.captured(4).isEmpty());

    SlavePort port(match.captured(1).toStdString());
    QVERIFY(port.isOpen());
    QVERIFY(port.write("VER\r\n"));
    QCOMPARE(qbytes(port.readThrough("\r\n")), QByteArray("VER=4.1\r\n"));
    QVERIFY(program.stopsCleanly(SIGTERM));
}

void tst_cli::preloadsMemory() {
    const QString hex = path(QStringLiteral("firmware.hex"));
    QFile file(hex);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(":020000040001F9\r\n:01001000559A\r\n:00000001FF\r\n");
    file.close();

    const QString link = path(QStringLiteral("board"));
    Simboard program({"--preload", hex, "--link", link});
    QVERIFY(kAnnouncement.match(program.announcement()).hasMatch());
    SlavePort port(link.toStdString());
    QVERIFY(port.isOpen());
    QByteArrayList answers;
    for (const char *line : {"BOOT#020000040001F9\r\n", "BOOT#01001000559A\r\n",
                             "BOOT#01001000AA45\r\n", "BOOT#00000001FF\r\n"}) {
        QVERIFY(port.write(line));
        answers << qbytes(port.readThrough("\r\n"));
    }
    QCOMPARE(answers, (QByteArrayList{"OK\r\n", "OK\r\n", "ERROR\r\n", "DOWNLOAD\r\n"}));
}

void tst_cli::printsExchanges() {
    const QString link = path(QStringLiteral("board"));
    Simboard program({"--verbose", "--modbus", "--link", link});
    QVERIFY(kAnnouncement.match(program.announcement()).hasMatch());
    {
        SlavePort port(link.toStdString());
        QVERIFY(port.isOpen());
        QVERIFY(port.write(quenta::modbusFrame(1, "BOOTg\r\n")));
        QCOMPARE(qbytes(port.readUntil([](const std::string &r) { return r.size() >= 8; })),
                 QByteArray::fromHex("01424F4B0D0A9B90"));
    }
    QVERIFY(program.stopsCleanly(SIGTERM));
    QCOMPARE(program.process().readAllStandardError(),
             QByteArray("<- BOOTg\\r\\n\n-> \\x01BOK\\r\\n\\x9B\\x90\n"));
}

void tst_cli::passesFaultsOn_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("answer");

    const QByteArray ok = qbytes(quenta::modbusFrame(1, "BOK\r\n"));
    QByteArray corrupted = ok;
    corrupted[corrupted.size() - 1] = static_cast<char>(corrupted.back() ^ 0xFF);
    QTest::newRow("none") << QStringList{} << ok;
    QTest::newRow("split") << QStringList{"--split"} << ok;
    QTest::newRow("trickle") << QStringList{"--trickle"} << ok;
    QTest::newRow("garbage") << QStringList{"--garbage"}
                             << "\xA5~" + QByteArray(1, '\0') + "?" + ok;
    QTest::newRow("corrupt every CRC") << QStringList{"--corrupt-crc", "1"} << corrupted;
    QTest::newRow("silent") << QStringList{"--silent"} << QByteArray();
}

// The answer to one Modbus command, read until it is complete or for half a second when none
// is expected.
void tst_cli::passesFaultsOn() {
    QFETCH(QStringList, options);
    QFETCH(QByteArray, answer);

    const QString link = path(QStringLiteral("board"));
    Simboard program(QStringList{"--modbus", "--link", link} + options);
    QVERIFY(kAnnouncement.match(program.announcement()).hasMatch());
    SlavePort port(link.toStdString());
    QVERIFY(port.isOpen());
    QVERIFY(port.write(quenta::modbusFrame(1, "BOOTg\r\n")));
    const auto size = static_cast<std::size_t>(answer.size());
    const std::string received =
        answer.isEmpty()
            ? port.readFor(500ms)
            : port.readUntil([size](const std::string &r) { return r.size() >= size; });
    QCOMPARE(qbytes(received), answer);
}

// Checked right after the announcement, the link is absent: it is due only seconds later.
void tst_cli::appearsLate() {
    const QString link = path(QStringLiteral("board"));
    Simboard program({"--appear-after", "2000", "--link", link});
    QVERIFY(kAnnouncement.match(program.announcement()).hasMatch());
    QVERIFY(!linkExists(link));
    QVERIFY(eventually([&] { return linkExists(link); }));
    SlavePort port(link.toStdString());
    QVERIFY(port.isOpen());
    QVERIFY(port.write("BOOTg\r\n"));
    QCOMPARE(qbytes(port.readThrough("\r\n")), QByteArray("OK\r\n"));
}

void tst_cli::refusesBadUsage_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("unknown option")
        << QStringList{"--bogus"} << QByteArray("unknown option --bogus");
    QTest::newRow("missing value")
        << QStringList{"--address"} << QByteArray("--address needs a value");
    QTest::newRow("address 0") << QStringList{"--address", "0"} << QByteArray("1 to 255");
    QTest::newRow("address 256") << QStringList{"--address", "256"} << QByteArray("1 to 255");
    QTest::newRow("address not a number")
        << QStringList{"--address", "seven"} << QByteArray("takes a number");
    QTest::newRow("negative count")
        << QStringList{"--corrupt-crc", "-1"} << QByteArray("takes a number");
    QTest::newRow("number with a unit")
        << QStringList{"--appear-after", "20ms"} << QByteArray("takes a number");
}

void tst_cli::refusesBadUsage() {
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, message);

    const Run run = runToEnd(arguments);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(message), run.err.constData());
    QVERIFY(run.err.contains("Usage: quenta-simboard"));
    QVERIFY(run.out.isEmpty());
}

void tst_cli::refusesBadPreload_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("bad second line")
        << QByteArray(":01001000559A\n:01001000559B\n") << QByteArray("firmware.hex:2:");
    QTest::newRow("no file") << QByteArray() << QByteArray("cannot read");
}

void tst_cli::refusesBadPreload() {
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, message);

    const QString hex = path(QStringLiteral("firmware.hex"));
    if (!content.isEmpty()) {
        QFile file(hex);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    const QString link = path(QStringLiteral("board"));
    const Run run = runToEnd({"--preload", hex, "--link", link});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(message), run.err.constData());
    QVERIFY(!linkExists(link));
}

void tst_cli::printsHelp() {
    const Run run = runToEnd({"--help"});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.out.startsWith("Usage: quenta-simboard"));
    for (const char *option :
         {"--modbus", "--address", "--version", "--link", "--preload", "--split", "--trickle",
          "--garbage", "--corrupt-crc", "--silent", "--appear-after", "--verbose", "--help"}) {
        QVERIFY2(run.out.contains(option), option);
    }
}

QTEST_GUILESS_MAIN(tst_cli)
#include "tst_cli.moc"
