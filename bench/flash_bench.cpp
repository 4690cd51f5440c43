// Measures quenta-flash against simulated boards served by this program: a 1200-line file at a
// paced 115200 baud wire next to the bare wire time of every byte that crossed it and next to a
// bare client (a line, its answer, the next line; then the quiet of the same --timeout after the
// end record), two ports at once next to one, and the CPU time and peak memory of a 20,000-line
// file.
#include "SampleFirmware.h"
#include "TimedFlash.h"
#include "simboard/PtyBoard.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kBaud = 115200;
// The flasher's default answer timeout: also the quiet it keeps after the verify's end record.
constexpr int kTimeoutMs = 1000;

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &content) {
    const QString path = dir.filePath(name);
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(content) != content.size()) {
        qFatal("cannot write %s", qPrintable(path));
    }
    return path;
}

// A paced board that counts every byte of every command and answer.
struct CountedBoard {
    CountedBoard(const QTemporaryDir &dir, const QString &name, int baud, int latencyMs = 0) {
        simboard::Options options;
        options.faults.baud = baud;
        options.faults.latencyMs = latencyMs;
        options.monitor = [this](const simboard::Exchange &exchange) {
            bytes += exchange.command.size() + exchange.answer.size();
        };
        board = std::make_unique<simboard::PtyBoard>(options, dir.filePath(name).toStdString());
        board->start();
    }
    double wireSeconds() const { return static_cast<double>(bytes.load()) * 10.0 / kBaud; }
    QString path() const { return QString::fromStdString(board->path()); }

    std::atomic<std::size_t> bytes{0};
    std::unique_ptr<simboard::PtyBoard> board;
};

struct ChildUsage {
    double cpuSeconds = 0;
    long peakKiB = 0;
};

ChildUsage childUsage() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return {static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6,
            usage.ru_maxrss};
}

// The least any client can do: each line of the download, then of the verify, sent once its
// predecessor's answer is in, nothing checked; then the quiet after the end record that the
// flasher keeps (kTimeoutMs). Its wall time in seconds, the quiet included.
double bareClient(const QString &port, const QByteArray &file) {
    const int fd = ::open(QFile::encodeName(port).constData(), O_RDWR | O_NOCTTY);
    termios raw{};
    if (fd < 0 || tcgetattr(fd, &raw) != 0) {
        qFatal("cannot open %s", qPrintable(port));
    }
    cfmakeraw(&raw);
    tcsetattr(fd, TCSANOW, &raw);
    QElapsedTimer clock;
    clock.start();
    for (const char mark : {':', '#'}) {
        for (QByteArray line : file.split('\n')) {
            if (line.isEmpty()) {
                continue;
            }
            line[0] = mark;
            const QByteArray command = "BOOT" + line + "\r\n";
            if (::write(fd, command.constData(), static_cast<std::size_t>(command.size())) !=
                command.size()) {
                qFatal("cannot write to %s", qPrintable(port));
            }
            std::string answer;
            char c = 0;
            while (answer.find('\n') == std::string::npos && ::read(fd, &c, 1) == 1) {
                answer += c;
            }
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kTimeoutMs));
    ::close(fd);
    return static_cast<double>(clock.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const QString flasher =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(QUENTA_FLASH);
    QTemporaryDir dir;
    const QString small =
        writeFile(dir, QStringLiteral("1200.hex"), sample::firmware(sample::recordsFor(1200)));
    const QString large =
        writeFile(dir, QStringLiteral("20000.hex"), sample::firmware(sample::recordsFor(20000)));

    CountedBoard one(dir, QStringLiteral("one"), kBaud);
    const double seconds = sample::timedFlash(flasher, {one.path()}, small);
    if (seconds < 0) {
        std::fprintf(stderr, "the 1200-line flash failed\n");
        return 1;
    }
    std::printf("flash of 1200 lines (download and verify) over a %d baud wire\n", kBaud);
    std::printf("  quenta-flash  %8.3f s\n", seconds);
    std::printf("  bare wire     %8.3f s  (%zu bytes x 10 / %d)\n", one.wireSeconds(),
                one.bytes.load(), kBaud);
    // The flasher's time holds the quiet after the verify's end record; the wire's does not.
    const double quiet = kTimeoutMs / 1000.0;
    std::printf("  ratio         %8.3f    (without the %.3f s quiet after the end record; goal: at "
                "most 1.10)\n",
                (seconds - quiet) / one.wireSeconds(), quiet);
    CountedBoard bare(dir, QStringLiteral("bare"), kBaud);
    const double client = bareClient(bare.path(), sample::firmware(sample::recordsFor(1200)));
    std::printf("  bare client   %8.3f s  (of which %.3f s the quiet after the end record, "
                "--timeout %d)\n",
                client, kTimeoutMs / 1000.0, kTimeoutMs);
    std::printf("  ratio to it   %8.3f\n", seconds / client);

    // A USB serial adapter holds what the board sends until its latency timer runs out: 16 ms
    // unless the driver is asked for low latency (or the timer is set to 1 ms).
    for (const int latencyMs : {16, 1}) {
        CountedBoard adapter(dir, QStringLiteral("adapter-%1").arg(latencyMs), kBaud, latencyMs);
        const double behind = sample::timedFlash(flasher, {adapter.path()}, small);
        if (behind < 0) {
            std::fprintf(stderr, "the flash behind a %d ms adapter failed\n", latencyMs);
            return 1;
        }
        std::printf("  behind a %2d ms adapter: %8.3f s, ratio to the wire %.3f\n", latencyMs,
                    behind, behind / adapter.wireSeconds());
    }

    CountedBoard left(dir, QStringLiteral("left"), kBaud);
    CountedBoard right(dir, QStringLiteral("right"), kBaud);
    const double both = sample::timedFlash(flasher, {left.path(), right.path()}, small);
    if (both < 0) {
        std::fprintf(stderr, "the two-port flash failed\n");
        return 1;
    }
    std::printf("two ports at once: %.3f s, %.3f times one port\n", both, both / seconds);

    CountedBoard fast(dir, QStringLiteral("fast"), 0);
    const ChildUsage before = childUsage();
    const double largeSeconds = sample::timedFlash(flasher, {fast.path()}, large);
    const ChildUsage after = childUsage();
    if (largeSeconds < 0) {
        std::fprintf(stderr, "the 20000-line flash failed\n");
        return 1;
    }
    std::printf("flash of 20000 lines, unpaced: %.3f s\n", largeSeconds);
    std::printf("  CPU per line  %8.4f ms  (40000 line commands)\n",
                (after.cpuSeconds - before.cpuSeconds) * 1000.0 / 40000.0);
    std::printf("  peak memory   %8.1f MiB (goal: under 80 MiB)\n",
                static_cast<double>(after.peakKiB) / 1024.0);
    return 0;
}
