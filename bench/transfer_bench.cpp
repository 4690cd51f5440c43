// Measures a firmware job through the real window, its real serial control and timers, against the
// simulated board running as its own process on a pseudo-terminal.
#include "SampleFirmware.h"
#include "widgets/window/frmSerial.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <sys/resource.h>

using namespace quenta;

namespace {

constexpr double kPollMs = 30.0;

class ScriptedChooser : public FileChooser {
public:
    void setFilter(const QString &) override {}
    void showOpen() override {}
    QString fileName() const override { return path; }
    bool cancelError() const override { return false; }
    QString path;
};

class SilentBox : public MessageBox {
public:
    void show(const QString &prompt, int, const QString &) override {
        std::fprintf(stderr, "message: %s\n", qPrintable(prompt));
    }
};

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long peakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long currentKiB() {
    QFile status(QStringLiteral("/proc/self/statm"));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QList<QByteArray> fields = status.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * 4 : 0;
}

bool waitFor(const std::function<bool()> &done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

struct Bench {
    Bench(const QString &board) {
        Hosted hosted;
        auto chooser = std::make_unique<ScriptedChooser>();
        this->chooser = chooser.get();
        hosted.fileChooser = std::move(chooser);
        hosted.messageBox = std::make_unique<SilentBox>();
        window = std::make_unique<frmSerial>(std::move(hosted));
        window->txt[0]->setText(board);
        window->Text1->setText(QStringLiteral("0"));
    }
    // Runs one download and verify; returns false when it did not end in "END".
    bool job(const QString &path, int lines) {
        chooser->path = path;
        window->Command3_Click();
        return waitFor(
                   [&] {
                       return window->vbalProgressBar1->text() == QStringLiteral("END") ||
                              window->vbalProgressBar1->text() == QStringLiteral("ERROR");
                   },
                   lines * 2 * 200 + 10000) &&
               window->vbalProgressBar1->text() == QStringLiteral("END");
    }
    std::unique_ptr<frmSerial> window;
    ScriptedChooser *chooser;
};

} // namespace

int main(int argc, char *argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: %s PATH-TO-quenta-simboard [lines]\n", argv[0]);
        return 2;
    }
    const int lines = args.size() > 2 ? args[2].toInt() : 2000;

    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("board"));
    QProcess board;
    board.start(args[1], {QStringLiteral("--link"), link});
    if (!board.waitForStarted() || !waitFor([&] { return QFile::exists(link); }, 5000)) {
        std::fprintf(stderr, "the simulated board did not start\n");
        return 1;
    }

    const QString file = dir.filePath(QStringLiteral("bench.hex"));
    {
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly)) {
            return 1;
        }
        out.write(sample::firmware(sample::recordsFor(lines)));
        if (sample::linesOf(sample::recordsFor(lines)) != lines) {
            std::fprintf(stderr, "note: the file has %d lines\n",
                         sample::linesOf(sample::recordsFor(lines)));
        }
    }

    Bench bench(link);
    bench.window->BTNOpenCom_Click();
    if (!bench.window->MSComm1->portOpen()) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(link));
        return 1;
    }

    QElapsedTimer clock;
    const double cpuBefore = cpuSeconds();
    clock.start();
    if (!bench.job(file, lines)) {
        std::fprintf(stderr, "the job did not end in END\n");
        return 1;
    }
    const double totalMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    const double cpuMs = (cpuSeconds() - cpuBefore) * 1000.0;
    const int sent = 2 * lines;
    std::printf("download and verify of %d lines (%d line commands)\n", lines, sent);
    std::printf("  total time          %10.1f ms\n", totalMs);
    std::printf("  per line            %10.3f ms\n", totalMs / sent);
    std::printf("  ratio to 30 ms poll %10.4f\n", totalMs / sent / kPollMs);
    std::printf("  CPU per line        %10.3f ms\n", cpuMs / sent);
    std::printf("  peak memory         %10ld KiB\n", peakKiB());

    // Ten jobs in a row: the resident size must not grow from one to the next.
    const QString small = dir.filePath(QStringLiteral("small.hex"));
    {
        QFile out(small);
        if (!out.open(QIODevice::WriteOnly)) {
            return 1;
        }
        out.write(sample::firmware(100));
    }
    std::printf("resident memory after each of ten 102-line jobs (KiB):");
    for (int i = 0; i < 10; ++i) {
        if (!bench.job(small, 102)) {
            std::fprintf(stderr, "\njob %d did not end in END\n", i + 1);
            return 1;
        }
        std::printf(" %ld", currentKiB());
        std::fflush(stdout);
    }
    std::printf("\n");

    // Idle: the port open, nothing to do, for ten seconds.
    const double idleBefore = cpuSeconds();
    clock.restart();
    waitFor([&] { return clock.elapsed() >= 10000; }, 11000);
    const double idleCpu =
        (cpuSeconds() - idleBefore) / (static_cast<double>(clock.elapsed()) / 1000.0);
    std::printf("idle with the port open: %.2f %% CPU over %.1f s\n", idleCpu * 100.0,
                static_cast<double>(clock.elapsed()) / 1000.0);

    // Loading 9000 lines (and sending the first), best of five.
    const QString big = QStringLiteral(QUENTA_SOURCE_DIR "/tests/data/lines-9000.hex");
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        bench.chooser->path = big;
        QElapsedTimer load;
        load.start();
        bench.window->Command3_Click();
        best = std::min(best, static_cast<double>(load.nsecsElapsed()) / 1e6);
        if (bench.window->job.LineCount != 9000) {
            std::fprintf(stderr, "the 9000-line file did not load\n");
            return 1;
        }
    }
    std::printf("loading a 9000-line file: %.2f ms (best of 5)\n", best);
    bench.window->BTNCloseCom_Click();

    board.terminate();
    board.waitForFinished();
    return 0;
}
