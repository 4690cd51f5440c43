#include "SimboardTesting.h"

#include "simboard/PtyBoard.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <filesystem>
#include <termios.h>

using namespace simboard;
using namespace simboard::testing;

namespace {

namespace fs = std::filesystem;

bool linkExists(const std::string &path) {
    std::error_code error;
    return fs::is_symlink(fs::symlink_status(path, error));
}

} // namespace

class tst_ptyboard : public QObject {
    Q_OBJECT

private slots:
    void init();

    void keepsTheLineRaw();
    void appliesFaultsOnTheLine();
    void vanishesAndReappears();
    void appearsLate();

private:
    std::string linkPath() const { return dir_->filePath(QStringLiteral("board")).toStdString(); }

    std::unique_ptr<QTemporaryDir> dir_;
};

void tst_ptyboard::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

// Nothing between the board and the program echoes, changes or acts on a byte: the version holds
// CR, the interrupt, stop and start characters, DEL and 8-bit bytes. The board outlives the
// program closing its end.
void tst_ptyboard::keepsTheLineRaw() {
    const std::string version("\x03\x11\x13\r\x7F\xFF\x80\x1A", 8);
    PtyBoard board({.bootloader = {.version = version}});
    board.start();
    QCOMPARE(board.path(), board.devicePath());
    for (int round = 0; round < 2; ++round) {
        SlavePort port(board.path());
        QVERIFY(port.isOpen());
        termios settings{};
        QCOMPARE(::tcgetattr(port.fd(), &settings), 0);
        QCOMPARE(settings.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), tcflag_t{0});
        QCOMPARE(settings.c_iflag & (ICRNL | INLCR | IXON | ISTRIP), tcflag_t{0});
        QCOMPARE(settings.c_oflag & OPOST, tcflag_t{0});

        const std::string expected = "VER=" + version + "\r\n";
        QCOMPARE(port.ask("BOOTi\r\n", expected), qbytes(expected));
        QCOMPARE(port.ask("BOOT\xFF\x03\n", "ERROR\r\n"), QByteArray("ERROR\r\n"));
    }
    QCOMPARE(qbytes(board.rawReceived()), QByteArray("BOOTi\r\nBOOT\xFF\x03\n").repeated(2));
    QCOMPARE(board.commands().size(), std::size_t{4});
}

// The faults reach the line, count the answers, and change with setFaults().
void tst_ptyboard::appliesFaultsOnTheLine() {
    PtyBoard board(
        {.bootloader = {.modbus = true},
         .faults = {
             .splitAnswers = true, .trickle = true, .garbageBefore = true, .corruptCrcEvery = 2}});
    board.start();
    SlavePort port(board.path());
    QVERIFY(port.isOpen());

    const std::string ok = frame(1, "BOK\r\n");
    std::string corrupted = ok;
    corrupted.back() = static_cast<char>(corrupted.back() ^ 0xFF);
    const std::string noise = noiseBytes();
    QCOMPARE(port.ask(frame(1, "BOOTg\r\n"), noise + ok), qbytes(noise + ok));
    QCOMPARE(port.ask(frame(1, "BOOTg\r\n"), noise + ok), qbytes(noise + corrupted));

    board.setFaults({.silent = true});
    QVERIFY(port.write(frame(1, "BOOTi\r\n")));
    QVERIFY(eventually([&] { return board.commands().size() == 3; }));
    board.setFaults({});
    QCOMPARE(port.ask(frame(1, "BOOTg\r\n"), ok), qbytes(ok));
}

// Pulled like a USB cable and plugged in again: the link follows, the bootloader keeps its address
// and memory.
void tst_ptyboard::vanishesAndReappears() {
    const std::string link = linkPath();
    PtyBoard board({.bootloader = {.modbus = true}}, link);
    board.start();
    QCOMPARE(board.path(), link);
    QCOMPARE(fs::read_symlink(link).string(), board.devicePath());
    {
        SlavePort port(link);
        QVERIFY(port.isOpen());
        const std::string ok = frame(1, "BOK\r\n");
        QCOMPARE(port.ask(frame(1, "BOOT:01001000559A\r\n"), ok), qbytes(ok));
        QCOMPARE(port.ask(frame(1, "BOOT$22\r\n"), ok), qbytes(ok));

        const std::string gone = board.devicePath();
        board.vanish();
        QVERIFY(!linkExists(link));
        QVERIFY(!QFile::exists(QString::fromStdString(gone)));
        const ssize_t written = ::write(port.fd(), "x", 1);
        const int error = errno;
        QCOMPARE(written, ssize_t{-1});
        QCOMPARE(error, EIO);
    }
    QVERIFY(!SlavePort(link).isOpen());

    board.reappear();
    QCOMPARE(fs::read_symlink(link).string(), board.devicePath());
    SlavePort port(link);
    QVERIFY(port.isOpen());
    const std::string ok = frame(0x22, "BOK\r\n");
    QCOMPARE(port.ask(frame(0x22, "BOOT#01001000559A\r\n"), ok), qbytes(ok));
    QCOMPARE(board.memory(), (Memory{{0x10, 0x55}}));
}

// Checked right after start(), the link is absent: it is due only 1.5 s later.
void tst_ptyboard::appearsLate() {
    const std::string link = linkPath();
    PtyBoard board({.faults = {.appearAfterMs = 1500}}, link);
    board.start();
    QVERIFY(!linkExists(link));
    QVERIFY(eventually([&] { return linkExists(link); }));
    SlavePort port(link);
    QVERIFY(port.isOpen());
    QCOMPARE(port.ask("BOOTi\r\n", "VER=4.1\r\n"), QByteArray("VER=4.1\r\n"));
}

QTEST_APPLESS_MAIN(tst_ptyboard)
#include "tst_ptyboard.moc"
