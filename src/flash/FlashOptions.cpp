#include "flash/FlashOptions.h"

#include <QCommandLineParser>
#include <QRegularExpression>

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

// COMn is the n-th serial port, /dev/ttyS(n-1); anything else is a path.
std::optional<QString> portPath(const QString &text) {
    static const QRegularExpression com(QStringLiteral("^COM(\\d+)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = com.match(text);
    if (!match.hasMatch()) {
        return text.isEmpty() ? std::nullopt : std::optional<QString>(text);
    }
    const int number = match.captured(1).toInt();
    if (number < 1) {
        return std::nullopt;
    }
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
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
        choice.list.push_back(static_cast<std::uint8_t>(*address));
    }
    return choice;
}

struct Parser {
    QCommandLineParser parser;
    QCommandLineOption port{
        {QStringLiteral("p"), QStringLiteral("port")}, {}, QStringLiteral("PORT")};
    QCommandLineOption baud{{QStringLiteral("b"), QStringLiteral("baud")}, {}, QStringLiteral("N")};
    QCommandLineOption usb{QStringLiteral("usb")};
    QCommandLineOption modbus{{QStringLiteral("m"), QStringLiteral("modbus")}};
    QCommandLineOption address{
        {QStringLiteral("a"), QStringLiteral("address")}, {}, QStringLiteral("A")};
    QCommandLineOption timeout{QStringLiteral("timeout"), {}, QStringLiteral("MS")};
    QCommandLineOption retries{QStringLiteral("retries"), {}, QStringLiteral("N")};
    QCommandLineOption wait{QStringLiteral("wait"), {}, QStringLiteral("S")};
    QCommandLineOption json{QStringLiteral("json")};
    QCommandLineOption quiet{{QStringLiteral("q"), QStringLiteral("quiet")}};
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}};
    QCommandLineOption version{QStringLiteral("version")};

    Parser() {
        parser.addOptions(
            {port, baud, usb, modbus, address, timeout, retries, wait, json, quiet, help, version});
    }
};

// Checks the options; the mistake, if any.
QString readOptions(const Parser &p, Settings &s) {
    for (const QString &text : p.parser.values(p.port)) {
        const auto path = portPath(text);
        if (!path) {
            return QStringLiteral("--port \"%1\" is no port: give COMn (n from 1) or a device path")
                .arg(text);
        }
        if (s.ports.contains(*path)) {
            return QStringLiteral("the port %1 is given twice").arg(*path);
        }
        s.ports.append(*path);
    }
    if (p.parser.isSet(p.baud)) {
        const int baud = p.parser.value(p.baud).toInt();
        if (baud != 9600 && baud != 19200 && baud != 115200) {
            return QStringLiteral("--baud must be 9600, 19200 or 115200");
        }
        s.baud = baud;
    }
    if (p.parser.isSet(p.address)) {
        const auto choice = addressChoice(p.parser.value(p.address));
        if (!choice) {
            return QStringLiteral("--address must be N, a list N,M,... (each 1..255) or \"all\"");
        }
        s.addresses = *choice;
    }
    if (p.parser.isSet(p.timeout)) {
        const auto ms = wholeNumber(p.parser.value(p.timeout), 1, 3600000);
        if (!ms) {
            return QStringLiteral("--timeout must be a whole number of milliseconds, 1 or more");
        }
        s.timeoutMs = *ms;
    }
    if (p.parser.isSet(p.retries)) {
        const auto retries = wholeNumber(p.parser.value(p.retries), 0, 1000);
        if (!retries) {
            return QStringLiteral("--retries must be a whole number from 0 to 1000");
        }
        s.retries = *retries;
    }
    if (p.parser.isSet(p.wait)) {
        bool ok = false;
        const double seconds = p.parser.value(p.wait).toDouble(&ok);
        if (!ok || !(seconds >= 0.0 && seconds <= 86400.0)) {
            return QStringLiteral("--wait must be a number of seconds, 0 or more");
        }
        s.waitMs = static_cast<int>(seconds * 1000.0);
    }
    s.usb = p.parser.isSet(p.usb);
    s.modbus = p.parser.isSet(p.modbus);
    s.json = p.parser.isSet(p.json);
    s.quiet = p.parser.isSet(p.quiet);
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
        return argument ? QStringLiteral("%1 needs %2")
                              .arg(words[0], takesFile(s.command) ? QStringLiteral("a FILE")
                                                                  : QStringLiteral("N"))
                        : QStringLiteral("%1 takes no argument").arg(words[0]);
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
    if (p.parser.isSet(p.address) && !s.modbus) {
        return QStringLiteral("--address needs --modbus");
    }
    if (s.command == Command::Scan && p.parser.isSet(p.address)) {
        return QStringLiteral("scan takes no --address: it tries them all");
    }
    if (s.command == Command::SetAddress && s.modbus &&
        (s.addresses.kind == AddressChoice::Kind::All || s.addresses.list.size() > 1)) {
        return QStringLiteral("set-address is for one board: give one --address");
    }
    return {};
}

} // namespace

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
    if (!p.parser.parse(arguments)) {
        parsed.error = p.parser.errorText();
        return parsed;
    }
    if (p.parser.isSet(p.help)) {
        parsed.action = ParsedArguments::Action::Help;
        return parsed;
    }
    if (p.parser.isSet(p.version)) {
        parsed.action = ParsedArguments::Action::Version;
        return parsed;
    }
    Settings &s = parsed.settings;
    parsed.error = readOptions(p, s);
    if (parsed.error.isEmpty()) {
        parsed.error = readCommand(p.parser.positionalArguments(), s);
    }
    if (parsed.error.isEmpty()) {
        parsed.error = checkTogether(p, s);
    }
    if (parsed.error.isEmpty()) {
        parsed.action = ParsedArguments::Action::Run;
    }
    return parsed;
}

QString helpText() {
    return QStringLiteral(
        "Usage: quenta-flash [OPTIONS] COMMAND [ARGUMENT]\n"
        "Flashes Intel HEX firmware into PIC bootloader boards over a serial line or a Modbus "
        "bus.\n"
        "\n"
        "Commands:\n"
        "  flash FILE          download FILE into the board, then verify it (always both)\n"
        "  verify FILE         verify the board against FILE; nothing is written\n"
        "  install             start the firmware (the install command)\n"
        "  version             print the bootloader's answer to the info command\n"
        "  set-address N       give the board the new bus address N (0..255)\n"
        "  scan                list every board that answers on a Modbus bus (addresses 1..127), "
        "with its version\n"
        "  check               pre-flight check of the port and the board, saying what is wrong "
        "and what to do\n"
        "  ports               list the serial ports of this machine (paths, /dev/serial/by-id "
        "names, USB ids, maker)\n"
        "\n"
        "Options:\n"
        "  -p, --port PORT     COMn (= /dev/ttyS(n-1)) or a device path. May be repeated: flash, "
        "verify and check\n"
        "                      then run on every port at once, one board per port\n"
        "  -b, --baud N        9600, 19200 or 115200 (default 115200)\n"
        "      --usb           the board's USB port exists only once the board is powered: wait "
        "for it (see --wait)\n"
        "  -m, --modbus        Modbus RTU framing\n"
        "  -a, --address A     Modbus address: N, a list N,M,..., or \"all\" (every board a scan "
        "finds, flashed one\n"
        "                      after another on the bus). Without it: the first address in "
        "1..127 that answers\n"
        "      --timeout MS    how long to wait for each answer (default 1000)\n"
        "      --retries N     re-send a command whose answer did not come, N times (default 2)\n"
        "      --wait S        how long to wait for a port to appear or to come back, and for "
        "the bootloader's first\n"
        "                      answer (default 10)\n"
        "      --json          one JSON report on stdout instead of text\n"
        "  -q, --quiet         no progress display\n"
        "  -h, --help / --version\n"
        "\n"
        "Exit status:\n"
        "  0  every board done (flash: downloaded and verified)\n"
        "  1  a board refused: an \"ERROR\" or \"FORMAT\" answer, a verify mismatch, or a board "
        "that never reported\n"
        "     the end of the file\n"
        "  2  usage error, or a file that cannot be used (missing, unreadable, not Intel HEX, no "
        "lines); nothing is sent\n"
        "  3  a port cannot be opened (missing, no permission, in use)\n"
        "  4  no answer (the board stayed silent through the retries, or no board answered)\n"
        "  5  the port went away and did not come back within --wait\n"
        "  With several boards, the highest of their codes.\n");
}

} // namespace quenta::flash
