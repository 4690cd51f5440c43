#include "flash/FlashOptions.h"

#include "flash/RecordOptions.h"
#include "io/PortAccess.h"
#include "io/PortPath.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

namespace quenta::flash {
namespace {

constexpr std::array<std::pair<std::string_view, Command>, 10> kCommands{{
    {"flash", Command::Flash},
    {"verify", Command::Verify},
    {"install", Command::Install},
    {"version", Command::Version},
    {"set-address", Command::SetAddress},
    {"scan", Command::Scan},
    {"check", Command::Check},
    {"ports", Command::Ports},
    {"log", Command::Log},
    {"serve", Command::Serve},
}};

std::optional<Command> commandNamed(const QString &name) {
    for (const auto &[text, command] : kCommands) {
        if (name == QLatin1String(text.data(), static_cast<qsizetype>(text.size()))) {
            return command;
        }
    }
    return std::nullopt;
}

bool takesFile(Command command) {
    return command == Command::Flash || command == Command::Verify;
}

bool runsOnSeveralPorts(Command command) {
    return takesFile(command) || command == Command::Check;
}

std::optional<int> wholeNumber(const QString &text, int lowest, int highest) {
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok && value >= lowest && value <= highest ? std::optional<int>(value) : std::nullopt;
}

std::optional<AddressChoice> addressChoice(const QString &text) {
    if (text == QLatin1String("all")) {
        return AddressChoice{AddressChoice::Kind::All, {}};
    }
    AddressChoice choice{AddressChoice::Kind::List, {}};
    for (const QString &item : text.split(QLatin1Char(','))) {
        const auto address = wholeNumber(item.trimmed(), 1, 255);
        if (!address) {
            return std::nullopt;
        }
        const auto byte = static_cast<std::uint8_t>(*address);
        if (std::find(choice.list.begin(), choice.list.end(), byte) != choice.list.end()) {
            return std::nullopt;
        }
        choice.list.push_back(byte);
    }
    return choice;
}

// Reads the command line by the option table.
struct Parser {
    QCommandLineParser parser;

    Parser() {
        for (const OptionSpec &row : optionTable()) {
            parser.addOption(QCommandLineOption(row.names, row.description, row.valueName));
        }
    }
    bool isSet(const char *name) const { return parser.isSet(QLatin1String(name)); }
    QString value(const char *name) const { return parser.value(QLatin1String(name)); }
    QStringList values(const char *name) const { return parser.values(QLatin1String(name)); }
};

// Checks the options; the mistake, if any.
QString readOptions(const Parser &p, Settings &s) {
    for (const QString &text : p.values("port")) {
        // usb:SERIAL stands as it is: the port is found by its serial number at open time.
        const auto path = text == QLatin1String("usb:") ? std::nullopt : portPathFor(text);
        if (!path) {
            return QStringLiteral(
                       "--port \"%1\" is no port: give COMn (n from 1), a device path or "
                       "usb:SERIAL")
                .arg(text);
        }
        if (s.ports.contains(*path)) {
            return QStringLiteral("the port %1 is given twice").arg(*path);
        }
        const QString device = resolvePortPath(*path);
        for (const QString &earlier : s.ports) {
            if (resolvePortPath(earlier) == device) {
                return QStringLiteral("%1 and %2 are one device, %3: give it once")
                    .arg(earlier, *path, device);
            }
        }
        s.ports.append(*path);
    }
    if (p.isSet("baud")) {
        const int baud = p.value("baud").toInt();
        if (baud != 9600 && baud != 19200 && baud != 115200) {
            return QStringLiteral("--baud must be 9600, 19200 or 115200");
        }
        s.baud = baud;
    }
    if (p.isSet("address")) {
        const auto choice = addressChoice(p.value("address"));
        if (!choice) {
            return QStringLiteral("--address must be N, a list N,M,... of different addresses "
                                  "(each 1..255) or \"all\"");
        }
        s.addresses = *choice;
    }
    if (p.isSet("timeout")) {
        const auto ms = wholeNumber(p.value("timeout"), 1, 3600000);
        if (!ms) {
            return QStringLiteral("--timeout must be a whole number of milliseconds, 1 or more");
        }
        s.timeoutMs = *ms;
    }
    if (p.isSet("retries")) {
        const auto retries = wholeNumber(p.value("retries"), 0, 1000);
        if (!retries) {
            return QStringLiteral("--retries must be a whole number from 0 to 1000");
        }
        s.retries = *retries;
    }
    if (p.isSet("wait")) {
        bool ok = false;
        const double seconds = p.value("wait").toDouble(&ok);
        if (!ok || !(seconds >= 0.0 && seconds <= 86400.0)) {
            return QStringLiteral("--wait must be a number of seconds, 0 or more");
        }
        s.waitMs = static_cast<int>(seconds * 1000.0);
    }
    s.usb = p.isSet("usb");
    s.modbus = p.isSet("modbus");
    s.json = p.isSet("json");
    s.jsonLines = p.isSet("json-lines");
    s.quiet = p.isSet("quiet");
    return {};
}

// Checks the command and its argument against the options; the mistake, if any.
QString readCommand(const QStringList &words, Settings &s) {
    if (words.isEmpty()) {
        return QStringLiteral("no command given");
    }
    const auto command = commandNamed(words[0]);
    if (!command) {
        return QStringLiteral("unknown command \"%1\"").arg(words[0]);
    }
    s.command = *command;
    const bool argument = takesFile(s.command) || s.command == Command::SetAddress;
    if (words.size() != (argument ? 2 : 1)) {
        const QString what = takesFile(s.command) ? QStringLiteral("a FILE") : QStringLiteral("N");
        if (!argument) {
            return QStringLiteral("%1 takes no argument").arg(words[0]);
        }
        return words.size() == 1 ? QStringLiteral("%1 needs %2").arg(words[0], what)
                                 : QStringLiteral("%1 takes one %2, not %3 words")
                                       .arg(words[0], what.section(QLatin1Char(' '), -1))
                                       .arg(words.size() - 1);
    }
    if (takesFile(s.command)) {
        s.file = words[1];
    }
    if (s.command == Command::SetAddress) {
        // 0 is the Modbus broadcast address: no board can be given it.
        const auto address = wholeNumber(words[1], 1, 255);
        if (!address) {
            return QStringLiteral("set-address needs N from 1 to 255");
        }
        s.newAddress = static_cast<std::uint8_t>(*address);
    }
    if (s.command == Command::Scan) {
        s.modbus = true;
    }
    return {};
}

// Checks what the command and the options say together; the mistake, if any.
QString checkTogether(const Parser &p, const Settings &s) {
    if (s.command == Command::Ports) {
        return {};
    }
    if (s.command == Command::Log || s.command == Command::Serve) {
        return s.ports.isEmpty()
                   ? QString()
                   : QStringLiteral("%1 takes no --port").arg(commandName(s.command).data());
    }
    if (s.ports.isEmpty()) {
        return QStringLiteral("%1 needs --port").arg(commandName(s.command).data());
    }
    if (s.ports.size() > 1 && !runsOnSeveralPorts(s.command)) {
        return QStringLiteral("several --port are for flash, verify and check only");
    }
    if (p.isSet("address") && !s.modbus) {
        return QStringLiteral("--address needs --modbus");
    }
    if (s.command == Command::Scan && p.isSet("address")) {
        return QStringLiteral("scan takes no --address: it tries them all");
    }
    if (s.command == Command::SetAddress && s.modbus &&
        (s.addresses.kind == AddressChoice::Kind::All || s.addresses.list.size() > 1)) {
        return QStringLiteral("set-address is for one board: give one --address");
    }
    return {};
}

// Qt's "Unknown option 'bogus'." in this program's words: "unknown option --bogus".
QString parserError(const QString &error) {
    static const QRegularExpression quoted(QStringLiteral("^(\\w+) option '([^']*)'\\.?$"));
    const QRegularExpressionMatch match = quoted.match(error);
    if (!match.hasMatch()) {
        return error.isEmpty() ? error : error.at(0).toLower() + error.mid(1);
    }
    const QString name = match.captured(2);
    return QStringLiteral("%1 option %2%3")
        .arg(match.captured(1).toLower(),
             name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), name);
}

} // namespace

const std::vector<OptionSpec> &optionTable() {
    static const std::vector<OptionSpec> table{
        {{QStringLiteral("p"), QStringLiteral("port")},
         QStringLiteral("PORT"),
         QStringLiteral("COMn (= /dev/ttyS(n-1)), a device path, or usb:SERIAL (the USB "
                        "serial port with that serial number). May be repeated: flash, verify "
                        "and check then run on every port at once, one board per port."),
         QStringLiteral("@ports")},
        {{QStringLiteral("b"), QStringLiteral("baud")},
         QStringLiteral("N"),
         QStringLiteral("9600, 19200 or 115200 (default 115200)."),
         QStringLiteral("9600 19200 115200")},
        {{QStringLiteral("usb")},
         {},
         QStringLiteral("The board's USB port exists only once the board is powered: wait for "
                        "it to appear and to become usable (see --wait)."),
         {}},
        {{QStringLiteral("m"), QStringLiteral("modbus")},
         {},
         QStringLiteral("Modbus RTU framing."),
         {}},
        {{QStringLiteral("a"), QStringLiteral("address")},
         QStringLiteral("A"),
         QStringLiteral("Modbus address: N, a list N,M,... of different addresses, or \"all\" "
                        "(every board a scan finds, one after another). Without it: the first "
                        "address in 1..127 that answers."),
         QStringLiteral("all")},
        {{QStringLiteral("timeout")},
         QStringLiteral("MS"),
         QStringLiteral("How long to wait for each answer (default 1000)."),
         {}},
        {{QStringLiteral("retries")},
         QStringLiteral("N"),
         QStringLiteral("Send a command whose answer did not come again, N times (default 2)."),
         {}},
        {{QStringLiteral("wait")},
         QStringLiteral("S"),
         QStringLiteral("How long to wait for a port to appear or to come back, and for the "
                        "bootloader's first answer (default 10)."),
         {}},
        {{QStringLiteral("json")},
         {},
         QStringLiteral("One JSON report on standard output instead of text (log: the jobs as a "
                        "JSON array)."),
         {}},
        {{QStringLiteral("json-lines")},
         {},
         QStringLiteral("Events as JSON lines on standard output while the run goes: start, "
                        "progress (at most ten a second a board), board, and a last end that "
                        "carries the report (no other report is printed)."),
         {}},
        {{QStringLiteral("J"), QStringLiteral("journal")},
         QStringLiteral("URL"),
         QStringLiteral("Where jobs are recorded: sqlite:PATH, or a PostgreSQL URI "
                        "(postgresql://USER@HOST:PORT/DB, or "
                        "postgresql://USER@/DB?host=/socket/dir&port=N). Default: "
                        "$QUENTA_JOURNAL, else sqlite:$XDG_DATA_HOME/quenta/journal.sqlite "
                        "(~/.local/share/quenta/journal.sqlite)."),
         {}},
        {{QStringLiteral("no-journal")}, {}, QStringLiteral("Record nothing."), {}},
        {{QStringLiteral("station")},
         QStringLiteral("NAME"),
         QStringLiteral("This station's name in the journal (default: the host name); log: "
                        "only its jobs."),
         {}},
        {{QStringLiteral("operator")},
         QStringLiteral("NAME"),
         QStringLiteral("Who flashes (default: the login name)."),
         {}},
        {{QStringLiteral("serial-at")},
         QStringLiteral("ADDR"),
         QStringLiteral("Write a serial number into each board at byte address ADDR of the HEX "
                        "file (0x... or decimal); flash only. Each board takes the next number "
                        "of its series from the journal when its job starts; a number is never "
                        "given twice, even when the job fails."),
         {}},
        {{QStringLiteral("serial-start")},
         QStringLiteral("N"),
         QStringLiteral("The first number of a new series (default 1); a later start moves the "
                        "series up."),
         {}},
        {{QStringLiteral("serial-bytes")},
         QStringLiteral("K"),
         QStringLiteral("1..8 bytes (default 4)."),
         QStringLiteral("1 2 3 4 5 6 7 8")},
        {{QStringLiteral("serial-format")},
         QStringLiteral("F"),
         QStringLiteral("le (default), be, or retlw: each byte, most significant first, as a "
                        "RETLW instruction word (byte, 0x34 in the file's little-endian word "
                        "order)."),
         QStringLiteral("le be retlw")},
        {{QStringLiteral("serial-series")},
         QStringLiteral("NAME"),
         QStringLiteral("Which series the number comes from (default \"default\")."),
         {}},
        {{QStringLiteral("since")},
         QStringLiteral("ISO-TIME"),
         QStringLiteral("log: jobs started at or after it (2024-05-01, 2024-05-01T08:00+02:00)."),
         {}},
        {{QStringLiteral("result")},
         QStringLiteral("R"),
         QStringLiteral("log: jobs that ended so (ok, refused, ..., or running)."),
         QStringLiteral("ok refused bad-file port-error no-answer port-lost interrupted running")},
        {{QStringLiteral("serial")},
         QStringLiteral("N"),
         QStringLiteral("log: the job that wrote serial number N."),
         {}},
        {{QStringLiteral("firmware")},
         QStringLiteral("FILE"),
         QStringLiteral("log: jobs with this firmware, by its SHA-256."),
         QStringLiteral("@files")},
        {{QStringLiteral("limit")},
         QStringLiteral("N"),
         QStringLiteral("log: at most N jobs (default 20; 0 = all)."),
         {}},
        {{QStringLiteral("csv")}, {}, QStringLiteral("log: CSV (RFC 4180) with a header row."), {}},
        {{QStringLiteral("listen")},
         QStringLiteral("ADDR:PORT"),
         QStringLiteral("serve: the address and port to listen on (default 127.0.0.1:8470; "
                        "[::1]:8470 for IPv6; port 0 takes a free one). An address other than "
                        "loopback needs --token-file."),
         {}},
        {{QStringLiteral("token-file")},
         QStringLiteral("FILE"),
         QStringLiteral("serve: every request must carry the token on the first line of FILE, "
                        "as \"Authorization: Bearer TOKEN\" or through the page's login form."),
         QStringLiteral("@files")},
        {{QStringLiteral("allow-host")},
         QStringLiteral("NAME"),
         QStringLiteral("serve: a host name by which browsers reach the view (repeatable); "
                        "requests whose Host header names another host are refused."),
         {}},
        {{QStringLiteral("q"), QStringLiteral("quiet")},
         {},
         QStringLiteral("No progress display."),
         {}},
        {{QStringLiteral("h"), QStringLiteral("help")}, {}, QStringLiteral("This help."), {}},
        {{QStringLiteral("version")}, {}, QStringLiteral("The program's version."), {}},
        {{QStringLiteral("man-page")}, {}, QStringLiteral("The manual page, in roff."), {}, true},
        {{QStringLiteral("bash-completion")},
         {},
         QStringLiteral("The bash completion script."),
         {},
         true},
    };
    return table;
}

const std::vector<CommandSpec> &commandTable() {
    static const std::vector<CommandSpec> table{
        {Command::Flash, QStringLiteral("FILE"),
         QStringLiteral("Download FILE into the board, then verify it (always both).")},
        {Command::Verify, QStringLiteral("FILE"),
         QStringLiteral("Verify the board against FILE; nothing is written.")},
        {Command::Install, {}, QStringLiteral("Start the firmware (the install command).")},
        {Command::Version,
         {},
         QStringLiteral("Print the bootloader's answer to the info command.")},
        {Command::SetAddress, QStringLiteral("N"),
         QStringLiteral("Give the board the new bus address N (1..255). On a Modbus bus the "
                        "address must be free: a board that already answers on it stops the "
                        "command before anything is changed.")},
        {Command::Scan,
         {},
         QStringLiteral("List every board that answers on a Modbus bus (addresses 1..127), "
                        "with its version.")},
        {Command::Check,
         {},
         QStringLiteral("Pre-flight check of the port and the board, saying what is wrong and "
                        "what to do.")},
        {Command::Ports,
         {},
         QStringLiteral("List the serial ports of this machine (paths, /dev/serial/by-id "
                        "names, USB ids, maker).")},
        {Command::Log,
         {},
         QStringLiteral("List recorded jobs, newest first: --since ISO-TIME, --result R, "
                        "--serial N, --firmware FILE (by its SHA-256), --station S, --limit N "
                        "(default 20; 0 = all), as a table, --csv (RFC 4180, header row) or "
                        "--json.")},
        {Command::Serve,
         {},
         QStringLiteral("Serve a live, read-only view of the journal over HTTP: a page for "
                        "browsers and a JSON API under /api/ (man quenta-flash: HTTP API). Runs "
                        "until SIGINT or SIGTERM, then exits 0.")},
    };
    return table;
}

bool recordsJobs(Command command) {
    return command == Command::Flash || command == Command::Verify || command == Command::Install ||
           command == Command::SetAddress;
}

std::string_view commandName(Command command) {
    for (const auto &[text, each] : kCommands) {
        if (each == command) {
            return text;
        }
    }
    return {};
}

ParsedArguments parseArguments(const QStringList &arguments) {
    Parser p;
    ParsedArguments parsed;
    const bool understood = p.parser.parse(arguments);
    const QStringList words = p.parser.positionalArguments();
    if (!words.isEmpty() && commandNamed(words[0])) {
        parsed.command = words[0];
    }
    if (!understood) {
        parsed.error = parserError(p.parser.errorText());
        return parsed;
    }
    if (p.isSet("help")) {
        parsed.action = ParsedArguments::Action::Help;
        return parsed;
    }
    if (p.isSet("version")) {
        parsed.action = ParsedArguments::Action::Version;
        return parsed;
    }
    if (p.isSet("man-page")) {
        parsed.action = ParsedArguments::Action::ManPage;
        return parsed;
    }
    if (p.isSet("bash-completion")) {
        parsed.action = ParsedArguments::Action::Completion;
        return parsed;
    }
    Settings &s = parsed.settings;
    parsed.error = readOptions(p, s);
    if (parsed.error.isEmpty()) {
        parsed.error = readCommand(words, s);
    }
    if (parsed.error.isEmpty()) {
        parsed.error = checkTogether(p, s);
    }
    if (parsed.error.isEmpty()) {
        parsed.error = readRecordOptions(p.parser, s);
    }
    if (parsed.error.isEmpty()) {
        parsed.action = ParsedArguments::Action::Run;
    }
    return parsed;
}

} // namespace quenta::flash
