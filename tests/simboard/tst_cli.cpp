#include "SimboardTesting.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <filesystem>

using namespace simboard::testing;

namespace {

constexpr int kGenerousMs = 10000;

} // namespace

class tst_cli : public QObject {
    Q_OBJECT

private slots:
    void servesUntilSigterm();
    void refusesBadUsage();
};

// Options reach the board, the line names the terminal and the link, and SIGTERM ends the program
// cleanly and removes the link.
void tst_cli::servesUntilSigterm() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString hex = dir.filePath(QStringLiteral("firmware.hex"));
    QFile file(hex);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(":020000040001F9\r\n:01001000559A\r\n:00000001FF\r\n");
    file.close();
    const QString link = dir.filePath(QStringLiteral("board"));

    QProcess program;
    program.start(QStringLiteral(SIMBOARD_PROGRAM), {"--modbus", "--address", "7", "--version",
                                                     "9.9", "--preload", hex, "--link", link});
    while (!program.canReadLine() && program.waitForReadyRead(kGenerousMs)) {
    }
    const QString line = QString::fromLocal8Bit(program.readLine());
    const QRegularExpressionMatch match =
        QRegularExpression(
            QStringLiteral(
                R"(^Simulated board on (/dev/pts/\d+) \(link (.+)\), Modbus address 7\n$)"))
            .match(line);
    QVERIFY2(match.hasMatch(), qPrintable(line));
    QCOMPARE(match.captured(2), link);
    QCOMPARE(QString::fromStdString(std::filesystem::read_symlink(link.toStdString()).string()),
             match.captured(1));
    {
        SlavePort port(link.toStdString());
        QVERIFY(port.isOpen());
        const std::string version = frame(7, "BVER=9.9\r\n");
        QCOMPARE(port.ask(frame(7, "BOOTi\r\n"), version), qbytes(version));
        const std::string ok = frame(7, "BOK\r\n");
        QCOMPARE(port.ask(frame(7, "BOOT#020000040001F9\r\n"), ok), qbytes(ok));
        QCOMPARE(port.ask(frame(7, "BOOT#01001000559A\r\n"), ok), qbytes(ok));
    }

    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    QVERIFY(program.waitForFinished(kGenerousMs));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void tst_cli::refusesBadUsage() {
    QProcess program;
    program.start(QStringLiteral(SIMBOARD_PROGRAM), {"--address", "256"});
    QVERIFY(program.waitForFinished(kGenerousMs));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 2);
    const QByteArray err = program.readAllStandardError();
    QVERIFY2(err.contains("1 to 255") && err.contains("Usage: quenta-simboard"), err.constData());
    QVERIFY(program.readAllStandardOutput().isEmpty());
}

QTEST_GUILESS_MAIN(tst_cli)
#include "tst_cli.moc"
