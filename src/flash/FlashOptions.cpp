#include "flash/FlashOptions.h"

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

constexpr std::array<std::pair<std::string_view, Command>, 8> kCommands{{
    {"flash", Command::Flash},
    {"verify", Command::Verify},
    {"install", Command::Install},
    {"version", Command::Version},
    {"set-address", Command::SetAddress},
    {"scan", Command::Scan},
    {"check", Command::Check},
    {"ports", Command::Ports},
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
        for (const OptionSpec &spec : optionTable()) {
            parser.addOption(QCommandLineOption(spec.names, spec.description, spec.valueName));
        }
    }
    bool isSet(const char *name) const { return parser.isSet(QLatin1String(name)); }
    QString value(const char *name) const { return parser.value(QLatin1String(name)); }
    QStringList values(const char *name) const { return parser.values(QLatin1String(name)); }
};

// Checks the options; the mistake, if any.
QString readOptions(const Parser &p, Settings &s) {
    for (const QString &text : p.values("port")) {
        const auto path = portPathFor(text);
        if (!path) {
            return QStringLiteral("--port \"%1\" is no port: give COMn (n from 1) or a device path")
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
         QStringLiteral("COMn (= /dev/ttyS(n-1)) or a device path. May be repeated: flash, "
                        "verify and check then run on every port at once, one board per port."),
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
         QStringLiteral("One JSON report on standard output instead of text."),
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
    };
    return table;
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
        parsed.action = ParsedArguments::Action::Run;
    }
    return parsed;
}

} // namespace quenta::flash
