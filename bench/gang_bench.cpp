// Measures one quenta-flash call on a gang of simulated boards at once: N = 1, 16, 32 and 64 ports,
// one quenta-simboard process a port, each paced as a 115200 baud wire, a 245-line file. For each
// N, over several runs: the wall time, its ratio to one port, the flasher's CPU time (user and
// system) and its peak memory.
//
//   quenta-gang-bench [RUNS] [FLASHER] [SIMBOARD]      RUNS: 3 by default
#include "SampleFirmware.h"
#include "TimedFlash.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int kBaud = 115200;
constexpr int kRecords = 243; // with its address and end records, 245 lines

struct Usage {
    double user = 0;
    double system = 0;
    long peakKiB = 0;
};

Usage childrenUsage() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto seconds = [](const timeval &t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return {seconds(usage.ru_utime), seconds(usage.ru_stime), usage.ru_maxrss};
}

// N simulated boards, each a process of its own on a link in `dir`.
class Gang {
public:
    Gang(const QString &simboard, const QTemporaryDir &dir, int boards) {
        for (int i = 0; i < boards; ++i) {
            const QString link = dir.filePath(QStringLiteral("board-%1-%2").arg(boards).arg(i));
            auto board = std::make_unique<QProcess>();
            board->setStandardOutputFile(QProcess::nullDevice());
            board->start(simboard, {QStringLiteral("--baud"), QString::number(kBaud),
                                    QStringLiteral("--link"), link});
            links_ << link;
            boards_.push_back(std::move(board));
        }
        for (const QString &link : links_) {
            for (int wait = 0; wait < 100 && !QFile::exists(link); ++wait) {
                QThread::msleep(50);
            }
            if (!QFile::exists(link)) {
                qFatal("the simulated board at %s did not start", qPrintable(link));
            }
        }
    }
    ~Gang() {
        for (auto &board : boards_) {
            board->terminate();
            board->waitForFinished(5000);
        }
    }
    const QStringList &links() const { return links_; }

private:
    std::vector<std::unique_ptr<QProcess>> boards_;
    QStringList links_;
};

struct Run {
    double seconds = 0;
    Usage usage;
};

// One flasher call on every port of the gang; its wall time and what it used.
Run flash(const QString &flasher, const QStringList &ports, const QString &file) {
    const Usage before = childrenUsage();
    const double seconds = sample::timedFlash(flasher, ports, file);
    if (seconds < 0) {
        qFatal("the flash of %lld ports failed", static_cast<long long>(ports.size()));
    }
    const Usage after = childrenUsage();
    return {seconds, {after.user - before.user, after.system - before.system, after.peakKiB}};
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 3;
    const QString flasher =
        argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral(QUENTA_FLASH);
    const QString simboard =
        argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral(QUENTA_SIMBOARD);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("245.hex"));
    QFile out(file);
    const QByteArray content = sample::firmware(sample::recordsFor(kRecords));
    if (!out.open(QIODevice::WriteOnly) || out.write(content) != content.size()) {
        qFatal("cannot write %s", qPrintable(file));
    }
    out.close();

    std::printf("a 245-line file, download and verify, each board paced as a %d baud wire; "
                "%d runs each\n",
                kBaud, runs);
    std::printf("%5s  %26s  %7s  %15s  %9s\n", "ports", "wall s (min median max)", "ratio",
                "CPU s user/sys", "peak MiB");
    double oneMedian = 0;
    for (const int boards : {1, 16, 32, 64}) {
        Gang gang(simboard, dir, boards);
        std::vector<double> walls;
        std::vector<double> users;
        std::vector<double> systems;
        long peak = 0;
        for (int run = 0; run < runs; ++run) {
            const Run result = flash(flasher, gang.links(), file);
            walls.push_back(result.seconds);
            users.push_back(result.usage.user);
            systems.push_back(result.usage.system);
            peak = std::max(peak, result.usage.peakKiB);
        }
        const double middle = median(walls);
        if (boards == 1) {
            oneMedian = middle;
        }
        std::printf("%5d  %8.3f %8.3f %8.3f  %7.3f  %7.3f/%-7.3f  %9.1f\n", boards,
                    *std::min_element(walls.begin(), walls.end()), middle,
                    *std::max_element(walls.begin(), walls.end()), middle / oneMedian,
                    median(users), median(systems), static_cast<double>(peak) / 1024.0);
        std::fflush(stdout);
    }
    return 0;
}
