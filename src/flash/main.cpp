// quenta-flash: flashes Intel HEX firmware into bootloader boards from scripts and production
// lines.
#include "flash/frame/Firmware.h"
#include "flash/frame/FlashOptions.h"
#include "flash/frame/Manual.h"
#include "flash/frame/Recipe.h"
#include "flash/frame/Report.h"
#include "flash/jobs/EventLines.h"
#include "flash/jobs/FlashRun.h"
#include "flash/jobs/Progress.h"
#include "flash/journal/JournalLog.h"
#include "flash/journal/RecipeCheck.h"
#include "flash/journal/RunJournal.h"
#include "flash/lineview/ServeCommand.h"
#include "io/port/PortIdentity.h"
#include "io/port/PortListing.h"
#include "io/system/StopSignals.h"
#include "io/system/Terminal.h"

#include <QCoreApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>

using namespace quenta;
using namespace quenta::flash;

namespace {

QString nameOf(Command command) {
    const std::string_view name = commandName(command);
    return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}

RunReport portList(const Settings &settings) {
    RunReport report;
    report.command = nameOf(settings.command);
    report.ports = listSerialPorts(kByIdFolder);
    return report;
}

ReportForm formOf(bool json, bool jsonLines) {
    return jsonLines ? ReportForm::JsonLines : json ? ReportForm::Json : ReportForm::Text;
}

RunFacts factsOf(const Settings &settings, const Firmware &firmware) {
    RunFacts facts;
    facts.station = settings.station;
    facts.operatorName = settings.operatorName;
    facts.tool = QStringLiteral("quenta-flash " QUENTA_VERSION);
    facts.command = nameOf(settings.command);
    facts.firmware = settings.file;
    facts.firmwareSha256 = firmware.sha256;
    if (!settings.file.isEmpty() && firmware.problem.isEmpty()) {
        facts.records = static_cast<qint64>(firmware.records.size());
    }
    if (settings.serial) {
        facts.series = settings.serial->series;
    }
    if (settings.recipe) {
        facts.recipe = settings.recipe->name;
        facts.recipeSha256 = settings.recipe->sha256;
    }
    return facts;
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
        const QStringList arguments = QCoreApplication::arguments();
        // log and serve make no report: their standard output is the jobs, or the address served.
        const bool reports =
            parsed.command != QLatin1String("log") && parsed.command != QLatin1String("serve");
        return printReport(report,
                           formOf(reports && arguments.contains(QStringLiteral("--json")),
                                  reports && arguments.contains(QStringLiteral("--json-lines"))));
    }
    case ParsedArguments::Action::Run:
        break;
    }
    // A reader that went away makes writing fail (and the run end with kNotRecorded) rather
    // than kill the run before its boards are recorded.
    std::signal(SIGPIPE, SIG_IGN);
    const ReportForm form = formOf(settings.json, settings.jsonLines);
    if (settings.command == Command::Ports) {
        return printReport(portList(settings), form);
    }
    if (settings.command == Command::Log) {
        return printJobLog(*settings.journal, settings.log);
    }
    if (settings.command == Command::Serve) {
        return serveJournal(*settings.journal, settings.serve);
    }
    Firmware firmware;
    if (!settings.file.isEmpty()) {
        firmware = loadFirmware(settings.file);
    }
    if (settings.recipe) {
        firmware = pinnedFirmware(settings.command == Command::Check
                                      ? loadFirmware(settings.recipe->firmware)
                                      : std::move(firmware),
                                  *settings.recipe);
    }
    RunReport recipeCheck;
    recipeCheck.command = nameOf(settings.command);
    recipeCheck.recipe = settings.recipe;
    if (settings.recipe && settings.command == Command::Check) {
        recipeCheck.checks = checkRecipe(settings, firmware, recipeCheck.recipeExit);
        if (settings.ports.isEmpty()) {
            return printReport(recipeCheck, form);
        }
        // The ports are checked too; the file is not sent.
        firmware = {};
    }
    // The journal is opened, and its tables made, before any port is touched.
    std::unique_ptr<RunJournal> journal;
    if (settings.journal && recordsJobs(settings.command)) {
        auto opened =
            RunJournal::open(*settings.journal, factsOf(settings, firmware), settings.waitMs);
        if (!opened) {
            RunReport report;
            report.command = nameOf(settings.command);
            report.problems << opened.error + QStringLiteral(": nothing was sent");
            return printReport(report, form);
        }
        journal = std::move(*opened);
    }
    std::unique_ptr<EventLines> events;
    if (settings.jsonLines) {
        events = std::make_unique<EventLines>();
    }
    ProgressDisplay progress(standardError(), !settings.quiet);
    FlashRun run(settings, std::move(firmware), progress, journal.get(), events.get());
    // The run stops at once, prints its report and ends with 128 + the signal's number.
    onStopSignals(&app, [&run](int number) { run.interrupt(number); });
    QObject::connect(&run, &FlashRun::finished, &app, [&] {
        progress.finish();
        RunReport report = run.report();
        report.recipe = recipeCheck.recipe;
        report.recipeExit = recipeCheck.recipeExit;
        report.checks.insert(report.checks.begin(), recipeCheck.checks.begin(),
                             recipeCheck.checks.end());
        const int printed = printReport(report, form);
        const int status = events && events->failed() ? kNotRecorded : printed;
        if (journal && status == kNotRecorded) {
            journal->notReported();
        }
        QCoreApplication::exit(status);
    });
    QTimer::singleShot(0, &run, &FlashRun::start);
    return QCoreApplication::exec();
}
