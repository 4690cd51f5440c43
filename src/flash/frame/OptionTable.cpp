#include "flash/frame/OptionTable.h"

#include "flash/frame/JournalOptions.h"
#include "flash/frame/LinkOptions.h"
#include "flash/frame/ServeSettings.h"

#include <algorithm>

namespace quenta::flash {
namespace {

// A row a recipe may pin, under its key.
OptionSpec pinnable(OptionSpec row, const char *key, RecipeValue value) {
    row.recipeKey = QString::fromLatin1(key);
    row.recipeValue = value;
    return row;
}

// clang-format off
std::vector<OptionSpec> makeTable() {
    return {
        {Option::Port, {"p", "port"}, "PORT",
         "COMn (= /dev/ttyS(n-1)), a device path, or usb:SERIAL (the USB serial port with that "
         "serial number). May be repeated: flash, verify and check then run on every port at once, "
         "one board per port.",
         {}, readPorts, "@ports", false, true},
        pinnable({Option::Baud, {"b", "baud"}, "N", "9600, 19200 or 115200.", "115200", readBaud,
         "9600 19200 115200"},
                 "link.baud", RecipeValue::Number),
        pinnable({Option::Usb, {"usb"}, {},
         "The board's USB port exists only once the board is powered: wait for it to appear and "
         "to become usable (see --wait).",
         {}, [](const OptionValue &v, const GivenOptions &, Settings &s) {
             s.usb = v.given;
             return QString();
         }},
                 "link.usb", RecipeValue::Flag),
        pinnable({Option::Modbus, {"m", "modbus"}, {}, "Modbus RTU framing.", {},
         [](const OptionValue &v, const GivenOptions &, Settings &s) {
             s.modbus = v.given || s.command == Command::Scan;
             return QString();
         }},
                 "link.modbus", RecipeValue::Flag),
        pinnable({Option::Address, {"a", "address"}, "A",
         "Modbus address: N, a list N,M,... of different addresses, or a range N-M (every board a "
         "scan of those addresses finds, one after another; \"all\" is 1-127). Without it: the "
         "first address in 1..127 that answers. scan: the range it looks through.",
         {}, readAddresses, "all"},
                 "link.addresses", RecipeValue::Addresses),
        pinnable({Option::Timeout, {"timeout"}, "MS", "How long to wait for each answer.", "1000",
         readTimeout},
                 "link.timeout", RecipeValue::Number),
        pinnable({Option::Retries, {"retries"}, "N",
         "Send a command whose answer did not come again, N times.", "2", readRetries},
                 "link.retries", RecipeValue::Number),
        pinnable({Option::Wait, {"wait"}, "S",
         "How long to wait for a port to appear or to come back, for the bootloader's first "
         "answer, and for a line database that restarted.",
         "10", readWait},
                 "link.wait", RecipeValue::Seconds),
        pinnable({Option::VerifyPasses, {"verify-passes"}, "N",
         "flash, verify: a board is ok only after N undisturbed verify passes in a row (1 to 10). "
         "Two passes tell what one cannot: a copy of an answer taken for a line's answer while "
         "the board's ERROR was lost.",
         "1", readVerifyPasses},
                 "verify.passes", RecipeValue::Number),
        {Option::Json, {"json"}, {},
         "One JSON report on standard output instead of text (log: the jobs as a JSON array).",
         {}, [](const OptionValue &v, const GivenOptions &, Settings &s) {
             s.json = v.given;
             return QString();
         }, {}, false, true},
        {Option::JsonLines, {"json-lines"}, {},
         "Events as JSON lines on standard output while the run goes: start, progress (at most "
         "ten a second a board), board, and a last end that carries the report (no other report "
         "is printed).",
         {}, [](const OptionValue &v, const GivenOptions &, Settings &s) {
             s.jsonLines = v.given;
             return QString();
         }, {}, false, true},
        {Option::Quiet, {"q", "quiet"}, {}, "No progress display.", {},
         [](const OptionValue &v, const GivenOptions &, Settings &s) {
             s.quiet = v.given;
             return QString();
         }, {}, false, true},
        // Read before every other row: what the recipe pins is given to their readers.
        {Option::Recipe, {"recipe"}, "FILE",
         "The production recipe of a product (TOML): its firmware with its SHA-256, the board's "
         "version, the link, the serial numbers and the journal. What it pins cannot be given "
         "on the command line; only --port, --operator, --station (when it names none), --json, "
         "--json-lines and --quiet may be added. For flash, verify (without FILE), check "
         "(without --port: the recipe alone), and serve and log (its journal, beside their own "
         "options).",
         {}, nullptr, "@files", false, true},
        pinnable({Option::Journal, {"J", "journal"}, "URL",
         "Where jobs are recorded: sqlite:PATH, or a PostgreSQL URI (postgresql://USER@HOST:PORT/DB, "
         "or 'postgresql://USER@/DB?host=/socket/dir&port=N', quoted for the shell). Default: "
         "$QUENTA_JOURNAL, else sqlite:$XDG_DATA_HOME/quenta/journal.sqlite "
         "(~/.local/share/quenta/journal.sqlite).",
         {}, readJournal},
                 "journal.url", RecipeValue::JournalUrl),
        {Option::NoJournal, {"no-journal"}, {}, "Record nothing.", {}, readNoJournal},
        pinnable({Option::Station, {"station"}, "NAME",
         "This station's name in the journal (default: the host name); log: only its jobs.", {},
         readStation, {}, false, true},
                 "journal.station", RecipeValue::Text),
        {Option::Operator, {"operator"}, "NAME", "Who flashes (default: the login name).", {},
         readOperator, {}, false, true},
        pinnable({Option::SerialAt, {"serial-at"}, "ADDR",
         "Write a serial number into each board at byte address ADDR of the HEX file (0x... or "
         "decimal); flash only. Each board takes the next number of its series from the journal "
         "once it has answered with a version the recipe accepts, and is then written with it; a "
         "number is never given twice, even when the job fails after it.",
         {}, readSerialAt},
                 "serial.at", RecipeValue::ByteAddress),
        pinnable({Option::SerialStart, {"serial-start"}, "N",
         "The first number of a new series; a later start moves the series up.", "1",
         readSerialStart},
                 "serial.start", RecipeValue::Number),
        pinnable({Option::SerialBytes, {"serial-bytes"}, "K", "1..8 bytes.", "4", readSerialBytes,
         "1 2 3 4 5 6 7 8"},
                 "serial.bytes", RecipeValue::Number),
        pinnable({Option::SerialFormat, {"serial-format"}, "F",
         "le, be, or retlw: each byte, most significant first, as a RETLW instruction word (byte, "
         "0x34 in the file's little-endian word order), at an even address.",
         "le", readSerialFormat, "le be retlw"},
                 "serial.format", RecipeValue::Text),
        pinnable({Option::SerialSeries, {"serial-series"}, "NAME", "Which series the number comes from.",
         "default", readSerialSeries},
                 "serial.series", RecipeValue::Text),
        {Option::Since, {"since"}, "ISO-TIME",
         "log: jobs started at or after it (2024-05-01, 2024-05-01T08:00+02:00).", {}, readSince},
        {Option::Result, {"result"}, "R", "log: jobs that ended so: " + knownResults() + ".", {},
         readResult, knownResults()},
        {Option::Serial, {"serial"}, "N",
         "log: the job that wrote serial number N; none is exit status 1.", {},
         readSerialWanted},
        {Option::Firmware, {"firmware"}, "FILE", "log: jobs with this firmware, by its SHA-256.",
         {}, readFirmware, "@files"},
        {Option::Limit, {"limit"}, "N", "log: at most N jobs (0 = all).", "20", readLimit},
        {Option::Csv, {"csv"}, {},
         "log: CSV (RFC 4180) with a header row; a text that a spreadsheet would run as a formula "
         "is led by an apostrophe.",
         {}, readCsv},
        {Option::Listen, {"listen"}, "ADDR:PORT",
         "serve: the address and port to listen on ([::1]:8470 for IPv6; port 0 takes a free "
         "one). An address other than loopback needs --token-file.",
         "127.0.0.1:8470", readListen, {}, false, true},
        {Option::TokenFile, {"token-file"}, "FILE",
         "serve: every request must carry the token on the first line of FILE, as "
         "\"Authorization: Bearer TOKEN\" or through the page's login form.",
         {}, readTokenFile, "@files", false, true},
        {Option::AllowHost, {"allow-host"}, "NAME",
         "serve: a host name by which browsers reach the view (repeatable); requests whose Host "
         "header names another host are refused.",
         {}, readAllowHost, {}, false, true},
        {Option::TlsCert, {"tls-cert"}, "FILE",
         "serve: answer over HTTPS only, with the certificate in FILE (PEM: the server's own "
         "first, then those that vouch for it). Needs --tls-key.",
         {}, readTlsCert, "@files", false, true},
        {Option::TlsKey, {"tls-key"}, "FILE",
         "serve: the private key of --tls-cert's certificate (PEM, RSA or EC, not encrypted).",
         {}, readTlsKey, "@files", false, true},
        {Option::Help, {"h", "help"}, {}, "This help.", {}, nullptr},
        {Option::Version, {"version"}, {}, "The program's version.", {}, nullptr},
        {Option::ManPage, {"man-page"}, {}, "The manual page, in roff.", {}, nullptr, {}, true},
        {Option::BashCompletion, {"bash-completion"}, {}, "The bash completion script.", {},
         nullptr, {}, true},
    };
}
// clang-format on

} // namespace

QString GivenOptions::last(Option option) const {
    const auto found = values.find(option);
    return found == values.end() || found->second.isEmpty() ? QString() : found->second.last();
}

std::vector<const OptionSpec *> recipeOptions(const QString &table) {
    std::vector<const OptionSpec *> options;
    for (const OptionSpec &row : optionTable()) {
        if (row.recipeKey.section(QLatin1Char('.'), 0, 0) == table) {
            options.push_back(&row);
        }
    }
    return options;
}

const std::vector<OptionSpec> &optionTable() {
    static const std::vector<OptionSpec> table = makeTable();
    return table;
}

const OptionSpec &optionSpec(Option option) {
    const auto &table = optionTable();
    return *std::find_if(table.begin(), table.end(),
                         [option](const OptionSpec &row) { return row.option == option; });
}

QString optionText(Option option) {
    return QStringLiteral("--") + optionSpec(option).names.last();
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
                        "--json. The journal read is named above the table, or on standard "
                        "error.")},
        {Command::Serve,
         {},
         QStringLiteral("Serve a live, read-only view of the journal over HTTP: a page for "
                        "browsers and a JSON API under /api/ (man quenta-flash: HTTP API). Runs "
                        "until SIGINT or SIGTERM, then exits 0.")},
    };
    return table;
}

} // namespace quenta::flash
