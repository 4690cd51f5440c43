// quenta-flash: flashes Intel HEX firmware into bootloader boards from scripts and production
// lines.
#include "flash/Firmware.h"
#include "flash/FlashOptions.h"
#include "flash/FlashRun.h"
#include "flash/Manual.h"
#include "flash/Progress.h"
#include "flash/Report.h"
#include "io/PortListing.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace quenta;
using namespace quenta::flash;

namespace {

QString nameOf(Command command) {
    const std::string_view name = commandName(command);
    return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}

// A file that cannot be used ends the run before any port is opened.
RunReport badFile(const Settings &settings, const QString &problem) {
    RunReport report;
    report.command = nameOf(settings.command);
    for (const QString &port : settings.ports) {
        BoardReport board;
        board.port = port;
        board.result = JobResult::BadFile;
        board.message = problem;
        report.boards.push_back(board);
    }
    return report;
}

RunReport portList(const Settings &settings) {
    RunReport report;
    report.command = nameOf(settings.command);
    report.ports = listSerialPorts(QStringLiteral("/dev/serial/by-id"));
    return report;
}

// SIGINT, SIGTERM and SIGHUP are turned into an event of the loop: the run stops at once, prints
// its report and ends with 128 + the signal's number.
int signalPipe[2] = {-1, -1};

void onSignal(int number) {
    const unsigned char byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

void catchSignals(FlashRun &run, QObject *owner) {
    if (::pipe(signalPipe) != 0) {
        return;
    }
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [&run] {
        unsigned char number = 0;
        if (::read(signalPipe[0], &number, 1) == 1) {
            run.interrupt(number);
        }
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(number, &action, nullptr);
    }
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const ParsedArguments parsed = parseArguments(QCoreApplication::arguments());
    const Settings &settings = parsed.settings;
    switch (parsed.action) {
    case ParsedArguments::Action::Help:
        std::fputs(helpText().toLocal8Bit().constData(), stdout);
        return 0;
    case ParsedArguments::Action::Version:
        std::puts("quenta-flash " QUENTA_VERSION);
        return 0;
    case ParsedArguments::Action::ManPage:
        std::fputs(manPage(QStringLiteral(QUENTA_VERSION)).toUtf8().constData(), stdout);
        return 0;
    case ParsedArguments::Action::Completion:
        std::fputs(bashCompletion().toUtf8().constData(), stdout);
        return 0;
    case ParsedArguments::Action::UsageError: {
        RunReport report;
        report.usageError = parsed.error;
        report.command = parsed.command;
        return printReport(report,
                           QCoreApplication::arguments().contains(QStringLiteral("--json")));
    }
    case ParsedArguments::Action::Run:
        break;
    }
    if (settings.command == Command::Ports) {
        return printReport(portList(settings), settings.json);
    }
    Firmware firmware;
    if (settings.command == Command::Flash || settings.command == Command::Verify) {
        firmware = loadFirmware(settings.file);
        if (!firmware.problem.isEmpty()) {
            return printReport(badFile(settings, firmware.problem), settings.json);
        }
    }
    ProgressDisplay progress(STDERR_FILENO, !settings.quiet);
    FlashRun run(settings, std::move(firmware.records), progress);
    catchSignals(run, &app);
    QObject::connect(&run, &FlashRun::finished, &app, [&] {
        progress.finish();
        QCoreApplication::exit(printReport(run.report(), settings.json));
    });
    QTimer::singleShot(0, &run, &FlashRun::start);
    return QCoreApplication::exec();
}
