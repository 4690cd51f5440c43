// Measures what the journal costs quenta-flash, against simulated boards served by this program:
// the wall time of one flash of a short file with no journal, an SQLite journal and a PostgreSQL
// journal (a server started in a temporary folder with fsync on, as a production server runs), and
// the jobs a minute that eight flashers at once record, each numbering its boards, on each.
#include "Postgres.h"
#include "SampleFirmware.h"
#include "simboard/PtyBoard.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kSingleJobs = 15;
constexpr int kFlashers = 8;
constexpr int kJobsEach = 8;

struct Bench {
    QString flasher;
    QString file;
    QTemporaryDir dir;
    int boards = 0;

    std::unique_ptr<simboard::PtyBoard> board() {
        auto made = std::make_unique<simboard::PtyBoard>(
            simboard::Options{}, dir.filePath(QString::number(++boards)).toStdString());
        made->start();
        return made;
    }

    QStringList arguments(const QStringList &journal, const simboard::PtyBoard &board) const {
        QStringList serial;
        if (!journal.contains(QStringLiteral("--no-journal"))) {
            serial = {QStringLiteral("--serial-at"), QStringLiteral("0x7F00")};
        }
        return journal + serial +
               QStringList{QStringLiteral("-q"), QStringLiteral("-p"),
                           QString::fromStdString(board.path()), QStringLiteral("flash"), file};
    }
};

void startFlasher(QProcess &process, const Bench &bench, const QStringList &arguments) {
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(bench.flasher, arguments);
}

bool succeeded(QProcess &process) {
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// The median wall time of one flash, in milliseconds; negative when a flash failed.
double medianJobMs(Bench &bench, const QStringList &journal) {
    const auto board = bench.board();
    std::vector<double> times;
    for (int i = 0; i < kSingleJobs; ++i) {
        QProcess process;
        QElapsedTimer clock;
        clock.start();
        startFlasher(process, bench, bench.arguments(journal, *board));
        if (!succeeded(process)) {
            return -1.0;
        }
        times.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Jobs a minute recorded by kFlashers flashers at once, each doing kJobsEach jobs one after
// another on a board of its own; negative when a flash failed.
double jobsPerMinute(Bench &bench, const QStringList &journal) {
    std::vector<std::unique_ptr<simboard::PtyBoard>> boards;
    for (int i = 0; i < kFlashers; ++i) {
        boards.push_back(bench.board());
    }
    QElapsedTimer clock;
    clock.start();
    for (int round = 0; round < kJobsEach; ++round) {
        std::vector<std::unique_ptr<QProcess>> flashers;
        for (const auto &board : boards) {
            flashers.push_back(std::make_unique<QProcess>());
            startFlasher(*flashers.back(), bench, bench.arguments(journal, *board));
        }
        for (const auto &process : flashers) {
            if (!succeeded(*process)) {
                return -1.0;
            }
        }
    }
    return kFlashers * kJobsEach * 60.0 / (static_cast<double>(clock.nsecsElapsed()) / 1e9);
}

// Prints the figures of one journal; the median job's milliseconds.
double measure(Bench &bench, const char *name, const QStringList &journal, double bare) {
    const double ms = medianJobMs(bench, journal);
    const double rate = jobsPerMinute(bench, journal);
    if (ms < 0 || rate < 0) {
        std::printf("%-11s a flash failed\n", name);
        return -1.0;
    }
    std::printf("%-11s %8.1f ms a job (%+6.1f ms)   %7.0f jobs a minute, 8 flashers at once\n",
                name, ms, bare < 0 ? 0.0 : ms - bare, rate);
    return ms;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    Bench bench;
    bench.flasher = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(QUENTA_FLASH);
    bench.file = bench.dir.filePath(QStringLiteral("short.hex"));
    QFile out(bench.file);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(sample::firmware(sample::recordsFor(16))) < 0) {
        qFatal("cannot write %s", qPrintable(bench.file));
    }
    out.close();
    std::printf("flash of a %d-line file on an unpaced simulated board, median of %d; "
                "with a journal, each board numbered (--serial-at)\n",
                sample::linesOf(sample::recordsFor(16)), kSingleJobs);
    const double bare = measure(bench, "no journal", {QStringLiteral("--no-journal")}, -1.0);
    measure(bench, "sqlite",
            {QStringLiteral("-J"), QStringLiteral("sqlite:") + bench.dir.filePath("j.sqlite")},
            bare);
    quenta::testing::PostgresServer server(true);
    if (!server.running()) {
        std::printf("postgresql  not measured: %s\n",
                    qPrintable(server.missing().isEmpty() ? server.problem() : server.missing()));
        return 0;
    }
    measure(bench, "postgresql",
            {QStringLiteral("-J"), server.createDatabase(QStringLiteral("bench"))}, bare);
    return 0;
}
