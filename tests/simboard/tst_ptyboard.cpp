#include "SimboardTesting.h"

#include "link/ModbusFrame.h"
#include "simboard/PtyBoard.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <sys/resource.h>
#include <termios.h>
#include <thread>

using namespace simboard;
using namespace simboard::testing;
using namespace std::chrono_literals;

namespace {

namespace fs = std::filesystem;

std::string frame(std::uint8_t address, std::string_view text) {
    return quenta::modbusFrame(address, text);
}

bool linkExists(const std::string &path) {
    std::error_code error;
    return fs::is_symlink(fs::symlink_status(path, error));
}

// Writes one command and reads until its answer ends as expected.
std::string ask(SlavePort &port, std::string_view command, std::string_view ending = "\r\n") {
    if (!port.write(command)) {
        return {};
    }
    return port.readThrough(ending);
}

// Reads exactly `count` bytes, or what came before the limit passed.
std::string readBytes(SlavePort &port, std::size_t count) {
    return port.readUntil([count](const std::string &r) { return r.size() >= count; });
}

} // namespace

class tst_ptyboard : public QObject {
    Q_OBJECT

private slots:
    void init();

    void answersOverTheTerminal_data();
    void answersOverTheTerminal();
    void keepsTheLineRaw();
    void answersInModbusFrames();
    void recordsWhatArrives();
    void tellsTheMonitor();
    void survivesTheProgramClosingItsEnd();
    void restsWhileNobodyTalks();
    void vanishesAndReappears();
    void vanishesWithoutLink();
    void appearsLate();
    void shapesAnswersOnTheLine_data();
    void shapesAnswersOnTheLine();
    void splitsAnswersOnTheLine();
    void staysSilent();
    void corruptsCrcOnTheLine();
    void stopsInTheMiddleOfAnAnswer();
    void dropsTheAnswerOfAVanishedTerminal();
    void quietLineDropsPartialFrame();
    void refusesToReplaceAFile();
    void removesItsLink();

private:
    std::string linkPath() const { return dir_->filePath(QStringLiteral("board")).toStdString(); }

    std::unique_ptr<QTemporaryDir> dir_;
};

void tst_ptyboard::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void tst_ptyboard::answersOverTheTerminal_data() {
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("answer");

    QTest::newRow("info") << QByteArray("BOOTi\r\n") << QByteArray("VER=4.1\r\n");
    QTest::newRow("version query") << QByteArray("VER\r\n") << QByteArray("VER=4.1\r\n");
    QTest::newRow("install") << QByteArray("BOOTg\r\n") << QByteArray("OK\r\n");
    QTest::newRow("download") << QByteArray("BOOT:100000000C9434000C9446000C9446000C9446006A\r\n")
                              << QByteArray("OK\r\n");
    QTest::newRow("end of file") << QByteArray("BOOT:00000001FF\r\n") << QByteArray("DOWNLOAD\r\n");
    QTest::newRow("unknown") << QByteArray("BOOTz\r\n") << QByteArray("ERROR\r\n");
}

void tst_ptyboard::answersOverTheTerminal() {
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, answer);

    PtyBoard board;
    board.start();
    QCOMPARE(board.path(), board.devicePath());
    SlavePort port(board.path());
    QVERIFY(port.isOpen());
    QCOMPARE(qbytes(ask(port, bytes(command))), answer);
    QCOMPARE(board.commands(), std::vector<std::string>{bytes(command)});
}

// Nothing between the board and the program changes a byte, echoes one or acts on one: the
// version text holds CR, the interrupt, stop and start characters, DEL and 8-bit bytes.
void tst_ptyboard::keepsTheLineRaw() {
    const std::string version("\x03\x11\x13\r\x7F\xFF\x80\x1A", 8);
    PtyBoard board({.bootloader = {.version = version}});
    board.start();
    SlavePort port(board.path());
    QVERIFY(port.isOpen());

    termios settings{};
    QCOMPARE(::tcgetattr(port.fd(), &settings), 0);
    QCOMPARE(settings.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), tcflag_t{0});
    QCOMPARE(settings.c_iflag & (ICRNL | INLCR | IXON | ISTRIP), tcflag_t{0});
    QCOMPARE(settings.c_oflag & OPOST, tcflag_t{0});

    const std::string expected = "VER=" + version + "\r\n";
    QCOMPARE(qbytes(ask(port, "BOOTi\r\n", expected)), qbytes(expected));
    QCOMPARE(qbytes(ask(port, "BOOT\xFF\x03\n", "ERROR\r\n")), QByteArray("ERROR\r\n"));
    QCOMPARE(qbytes(board.rawReceived()), QByteArray("BOOTi\r\nBOOT\xFF\x03\n"));
    QCOMPARE(board.commands(), (std::vector<std::string>{"BOOTi\r\n", "BOOT\xFF\x03\n"}));
}

void tst_ptyboard::answersInModbusFrames() {
    PtyBoard board({.bootloader = {.modbus = true, .address = 5}});
    board.start();
    SlavePort port(board.path());
    QVERIFY(port.isOpen());

    const std::string info = frame(5, "BVER=4.1\r\n");
    QVERIFY(port.write(frame(5, "BOOTi\r\n")));
    QCOMPARE(qbytes(readBytes(port, info.size())), qbytes(info));

    const std::string ok = frame(5, "BOK\r\n");
    QVERIFY(port.write(frame(5, "BOOT$09\r\n")));
    QCOMPARE(qbytes(readBytes(port, ok.size())), qbytes(ok));
    QCOMPARE(board.address(), std::uint8_t{9});

    const std::string answer = frame(9, "BOK\r\n");
    QVERIFY(port.write(frame(9, "BOOTg\r\n")));
    QCOMPARE(qbytes(readBytes(port, answer.size())), qbytes(answer));
}

void tst_ptyboard::recordsWhatArrives() {
    PtyBoard board({.bootloader = {.modbus = true}});
    board.start();
    SlavePort port(board.path());
    QVERIFY(port.isOpen());

    const std::string sent = "\xA5~" + frame(2, "BOOTi\r\n") + frame(1, "BOOTg\r\n");
    const std::string answer = frame(1, "BOK\r\n");
    QVERIFY(port.write(sent));
    QCOMPARE(qbytes(readBytes(port, answer.size())), qbytes(answer));
    QCOMPARE(qbytes(board.rawReceived()), qbytes(sent));
    QCOMPARE(board.commands(), std::vector<std::string>{"BOOTg\r\n"});
}

void tst_ptyboard::tellsTheMonitor() {
    std::mutex mutex;
    std::vector<Exchange> seen;
    Options options;
    options.monitor = [&](const Exchange &exchange) {
        const std::lock_guard lock(mutex);
        seen.push_back(exchange);
    };
    PtyBoard board(std::move(options));
    board.start();
    SlavePort port(board.path());
    QVERIFY(port.isOpen());
    QCOMPARE(qbytes(ask(port, "BOOTi\r\nBOOTx\r\n", "ERROR\r\n")),
             QByteArray("VER=4.1\r\nERROR\r\n"));

    const std::lock_guard lock(mutex);
    QCOMPARE(seen.size(), std::size_t{2});
    QCOMPARE(qbytes(seen[0].command), QByteArray("BOOTi\r\n"));
    QCOMPARE(qbytes(seen[0].answer), QByteArray("VER=4.1\r\n"));
    QCOMPARE(qbytes(seen[1].command), QByteArray("BOOTx\r\n"));
    QCOMPARE(qbytes(seen[1].answer), QByteArray("ERROR\r\n"));
}

void tst_ptyboard::survivesTheProgramClosingItsEnd() {
    PtyBoard board;
    board.start();
    for (int round = 0; round < 3; ++round) {
        SlavePort port(board.path());
        QVERIFY(port.isOpen());
        QCOMPARE(qbytes(ask(port, "BOOTi\r\n")), QByteArray("VER=4.1\r\n"));
    }
    QCOMPARE(board.commands().size(), std::size_t{3});
}

// A board whose terminal has no program on it sits in poll() instead of spinning: over a second of
// wall time the whole process takes well under half a second of processor time.
void tst_ptyboard::restsWhileNobodyTalks() {
    const auto processorTime = [] {
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        return std::chrono::seconds(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               std::chrono::microseconds(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    };
    PtyBoard board;
    board.start();
    {
        SlavePort port(board.path());
        QVERIFY(port.isOpen());
        QCOMPARE(qbytes(ask(port, "BOOTi\r\n")), QByteArray("VER=4.1\r\n"));
    }
    const auto before = processorTime();
    std::this_thread::sleep_for(1s);
    QVERIFY(processorTime() - before < 500ms);
}

void tst_ptyboard::vanishesAndReappears() {
    const std::string link = linkPath();
    PtyBoard board({.bootloader = {.modbus = true}}, link);
    board.start();
    QCOMPARE(board.path(), link);
    QVERIFY(linkExists(link));
    QCOMPARE(fs::read_symlink(link).string(), board.devicePath());

    const std::string record = "BOOT:01001000559A\r\n";
    const std::string ok = frame(1, "BOK\r\n");
    {
        SlavePort port(link);
        QVERIFY(port.isOpen());
        QVERIFY(port.write(frame(1, record)));
        QCOMPARE(qbytes(readBytes(port, ok.size())), qbytes(ok));
        QVERIFY(port.write(frame(1, "BOOT$22\r\n")));
        QCOMPARE(qbytes(readBytes(port, ok.size())), qbytes(ok));

        const std::string gone = board.devicePath();
        board.vanish();
        QVERIFY(!linkExists(link));
        QVERIFY(!QFile::exists(QString::fromStdString(gone)));
        const ssize_t written = ::write(port.fd(), "x", 1);
        const int error = errno;
        QCOMPARE(written, ssize_t{-1});
        QCOMPARE(error, EIO);
        char byte = 0;
        QCOMPARE(::read(port.fd(), &byte, 1), ssize_t{0});
    }
    QVERIFY(!SlavePort(link).isOpen());

    board.reappear();
    QVERIFY(linkExists(link));
    QCOMPARE(fs::read_symlink(link).string(), board.devicePath());
    SlavePort port(link);
    QVERIFY(port.isOpen());
    const std::string verified = frame(0x22, "BOK\r\n");
    QVERIFY(port.write(frame(0x22, "BOOT#01001000559A\r\n")));
    QCOMPARE(qbytes(readBytes(port, verified.size())), qbytes(verified));
    QCOMPARE(board.commands(),
             (std::vector<std::string>{record, "BOOT$22\r\n", "BOOT#01001000559A\r\n"}));
    QCOMPARE(board.memory(), (Memory{{0x10, 0x55}}));
}

void tst_ptyboard::vanishesWithoutLink() {
    PtyBoard board;
    board.start();
    const std::string first = board.path();
    board.vanish();
    QVERIFY(!QFile::exists(QString::fromStdString(first)));
    board.reappear();
    SlavePort port(board.path());
    QVERIFY(port.isOpen());
    QCOMPARE(qbytes(ask(port, "BOOTg\r\n")), QByteArray("OK\r\n"));
}

// Checked right after start(), the link is absent: it is due only seconds later.
void tst_ptyboard::appearsLate() {
    const std::string link = linkPath();
    PtyBoard board({.faults = {.appearAfterMs = 1500}}, link);
    board.start();
    QVERIFY(!linkExists(link));
    QVERIFY(eventually([&] { return linkExists(link); }));
    SlavePort port(link);
    QVERIFY(port.isOpen());
    QCOMPARE(qbytes(ask(port, "BOOTi\r\n")), QByteArray("VER=4.1\r\n"));
}

void tst_ptyboard::shapesAnswersOnTheLine_data() {
    QTest::addColumn<bool>("modbus");
    QTest::addColumn<bool>("split");
    QTest::addColumn<bool>("trickle");
    QTest::addColumn<bool>("garbage");

    for (const bool modbus : {false, true}) {
        const char *mode = modbus ? "Modbus" : "plain";
        QTest::addRow("%s, split", mode) << modbus << true << false << false;
        QTest::addRow("%s, trickle", mode) << modbus << false << true << false;
        QTest::addRow("%s, garbage", mode) << modbus << false << false << true;
        QTest::addRow("%s, all three", mode) << modbus << true << true << true;
    }
}

void tst_ptyboard::shapesAnswersOnTheLine() {
    QFETCH(bool, modbus);
    QFETCH(bool, split);
    QFETCH(bool, trickle);
    QFETCH(bool, garbage);

    PtyBoard board(
        {.bootloader = {.modbus = modbus},
         .faults = {.splitAnswers = split, .trickle = trickle, .garbageBefore = garbage}});
    board.start();
    SlavePort port(board.path());
    QVERIFY(port.isOpen());

    const std::string command = "BOOTi\r\n";
    const std::string answer = modbus ? frame(1, "BVER=4.1\r\n") : "VER=4.1\r\n";
    const std::string expected = (garbage ? noiseBytes() : "") + answer;
    for (int round = 0; round < 2; ++round) {
        QVERIFY(port.write(modbus ? frame(1, command) : command));
        QCOMPARE(qbytes(readBytes(port, expected.size())), qbytes(expected));
    }
}

// The second piece is due 1.5 s after the first: the first read finds the first piece alone.
void tst_ptyboard::splitsAnswersOnTheLine() {
    PtyBoard board({.faults = {.splitAnswers = true, .splitDelayMs = 1500}});
    board.start();
    SlavePort port(board.path());
    QVERIFY(port.isOpen());
    QVERIFY(port.write("BOOTg\r\n"));
    QCOMPARE(qbytes(port.readUntil([](const std::string &r) { return !r.empty(); })),
             QByteArray("OK"));
    QCOMPARE(qbytes(port.readThrough("\r\n")), QByteArray("\r\n"));
}

void tst_ptyboard::staysSilent() {
    PtyBoard board({.faults = {.silent = true}});
    board.start();
    SlavePort port(board.path());
    QVERIFY(port.isOpen());
    QVERIFY(port.write("BOOTi\r\n"));
    QVERIFY(eventually([&] { return board.commands().size() == 1; }));
    QCOMPARE(qbytes(port.readFor(300ms)), QByteArray());

    board.setFaults({});
    QCOMPARE(qbytes(ask(port, "BOOTg\r\n")), QByteArray("OK\r\n"));
}

void tst_ptyboard::corruptsCrcOnTheLine() {
    PtyBoard board({.bootloader = {.modbus = true}, .faults = {.corruptCrcEvery = 2}});
    board.start();
    SlavePort port(board.path());
    QVERIFY(port.isOpen());

    const std::string good = frame(1, "BOK\r\n");
    QList<bool> crcValid;
    for (int round = 0; round < 4; ++round) {
        QVERIFY(port.write(frame(1, "BOOTg\r\n")));
        const std::string answer = readBytes(port, good.size());
        QCOMPARE(qbytes(answer).chopped(2), qbytes(good).chopped(2));
        crcValid << (answer == good);
    }
    QCOMPARE(crcValid, (QList<bool>{true, false, true, false}));
}

// stop() ends a ten-minute pause in the middle of an answer.
void tst_ptyboard::stopsInTheMiddleOfAnAnswer() {
    PtyBoard board({.faults = {.splitAnswers = true, .splitDelayMs = 600000}});
    board.start();
    SlavePort port(board.path());
    QVERIFY(port.isOpen());
    QVERIFY(port.write("BOOTg\r\n"));
    QCOMPARE(qbytes(port.readUntil([](const std::string &r) { return !r.empty(); })),
             QByteArray("OK"));
    board.stop();
    QCOMPARE(board.commands().size(), std::size_t{1});
}

// The rest of an answer that was under way when the board vanished never reaches the new
// terminal, and the board serves the new one at once instead of sitting out the pause.
void tst_ptyboard::dropsTheAnswerOfAVanishedTerminal() {
    const std::string link = linkPath();
    PtyBoard board({.faults = {.splitAnswers = true, .splitDelayMs = 600000}}, link);
    board.start();
    {
        SlavePort port(link);
        QVERIFY(port.isOpen());
        QVERIFY(port.write("BOOTg\r\n"));
        QCOMPARE(qbytes(port.readUntil([](const std::string &r) { return !r.empty(); })),
                 QByteArray("OK"));
    }
    board.vanish();
    board.setFaults({});
    board.reappear();
    SlavePort port(link);
    QVERIFY(port.isOpen());
    QCOMPARE(qbytes(ask(port, "BOOTi\r\n", "VER=4.1\r\n")), QByteArray("VER=4.1\r\n"));
}

// A frame's CRC that comes 200 ms after the rest finds the rest given up: the line went quiet.
void tst_ptyboard::quietLineDropsPartialFrame() {
    PtyBoard board({.bootloader = {.modbus = true}});
    board.start();
    SlavePort port(board.path());
    QVERIFY(port.isOpen());

    const std::string info = frame(1, "BOOTi\r\n");
    QVERIFY(port.write(info.substr(0, info.size() - 2)));
    std::this_thread::sleep_for(200ms);
    QVERIFY(port.write(info.substr(info.size() - 2)));
    const std::string answer = frame(1, "BOK\r\n");
    QVERIFY(port.write(frame(1, "BOOTg\r\n")));
    QCOMPARE(qbytes(readBytes(port, answer.size())), qbytes(answer));
    QCOMPARE(board.commands(), std::vector<std::string>{"BOOTg\r\n"});
}

void tst_ptyboard::refusesToReplaceAFile() {
    const std::string path = linkPath();
    QFile file(QString::fromStdString(path));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("keep me");
    file.close();
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, PtyBoard({}, path));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep me"));
}

void tst_ptyboard::removesItsLink() {
    const std::string link = linkPath();
    fs::create_symlink("/nonexistent/stale", link);
    {
        PtyBoard board({}, link);
        board.start();
        QCOMPARE(fs::read_symlink(link).string(), board.devicePath());
        SlavePort port(link);
        QCOMPARE(qbytes(ask(port, "BOOTg\r\n")), QByteArray("OK\r\n"));
    }
    QVERIFY(!linkExists(link));
}

QTEST_APPLESS_MAIN(tst_ptyboard)
#include "tst_ptyboard.moc"
