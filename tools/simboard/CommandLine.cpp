#include "simboard/CommandLine.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <set>
#include <vector>

namespace simboard {

const std::string_view kUsage = R"(Usage: quenta-simboard [OPTION]...
Simulates a bootloader board on a pseudo-terminal until interrupted.

  --modbus               frame commands and answers as Modbus RTU
  --address N[,M...]     the Modbus address, 1 to 255 (default 1); several addresses put one
                         board for each on the line, as a bus (Modbus only)
  --board-version TEXT   the version the boards report as VER=TEXT (default 4.1)
  --verify-at-end        answer every verify line OK, and tell of a difference only at the end:
                         the verify pass's end record answers ERROR instead of DOWNLOAD
  --link PATH            also reach the boards through a symbolic link at PATH
  --preload FILE         fill each board's memory from an Intel HEX file first
  --baud B               answer only once the command and the answer would have crossed a
                         wire at B baud, 10 bits a byte
  --latency MS           as a USB adapter's latency timer: what the boards send is handed over
                         only at the next tick of MS milliseconds, counted from the start, so
                         several answers can come in one read (default 0, at once)
  --split                send each answer in two pieces, 45 ms apart
  --trickle              send answers one byte at a time at the pace of 9600 baud
  --garbage              send a few noise bytes in front of each answer
  --corrupt-crc N        Modbus: send every Nth answer with a wrong CRC
  --bare-frames          Modbus: send answer frames without the CR LF before their CRC
  --silent               take commands in but never answer
  --withhold N[,M...]    lose the answers to the Nth, Mth... command taken (counted from 1)
  --late N:MS[,M:MS...]  send the answer to the Nth command taken (counted from 1) MS
                         milliseconds late; the answers after it wait behind it (repeatable)
  --appear-after MS      create the link only MS milliseconds after starting
  --drop-after N         the port goes away right after the answer to the Nth download line
  --drop-for MS          and comes back under the link MS milliseconds later (needs --link);
                         without it the port stays away
  --lose K               at the drop, the boards forget the last K download records they
                         acknowledged
  --reset-at N           the port goes away right after the answer to the Nth download line of
                         a pass (counted since the last end record or reboot), every time the
                         boards reach it; --drop-for and --lose as for --drop-after
  --swap-after-drop TEXT when the port comes back, another board stands behind it: blank
                         memory, version TEXT (needs --drop-for)
  --verbose              print each command and answer to standard error
  --help                 print this help and exit
  --version              print the program's version and exit
)";

namespace {

template <typename Number> Number number(std::string_view option, std::string_view text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        throw UsageError(std::string(option) + " takes a number, not '" + std::string(text) + "'");
    }
    return value;
}

template <typename Number>
Number atLeast(std::string_view option, std::string_view text, Number least) {
    const auto value = number<Number>(option, text);
    if (value < least) {
        throw UsageError(std::string(option) + " takes at least " + std::to_string(least));
    }
    return value;
}

// "3,7,12" -> 3, 7, 12.
template <typename Number>
std::vector<Number> numbers(std::string_view option, std::string_view text) {
    std::vector<Number> values;
    for (;;) {
        const std::size_t comma = text.find(',');
        values.push_back(number<Number>(option, text.substr(0, comma)));
        if (comma == std::string_view::npos) {
            return values;
        }
        text.remove_prefix(comma + 1);
    }
}

// "2:300,5:80" -> command 2 300 ms late, command 5 80 ms late.
void addLate(std::map<std::uint64_t, int> &late, std::string_view text) {
    for (;;) {
        const std::string_view item = text.substr(0, text.find(','));
        const std::size_t colon = item.find(':');
        if (colon == std::string_view::npos) {
            throw UsageError("--late takes N:MS, not '" + std::string(item) + "'");
        }
        late[atLeast<std::uint64_t>("--late", item.substr(0, colon), 1)] =
            atLeast("--late", item.substr(colon + 1), 0);
        if (item.size() == text.size()) {
            return;
        }
        text.remove_prefix(item.size() + 1);
    }
}

std::vector<BootloaderOptions> boardsAt(std::string_view text) {
    std::vector<BootloaderOptions> boards;
    std::set<unsigned> taken;
    for (const unsigned address : numbers<unsigned>("--address", text)) {
        if (address < 1 || address > 255) {
            throw UsageError("--address takes 1 to 255");
        }
        if (!taken.insert(address).second) {
            throw UsageError("--address names each address once");
        }
        boards.push_back({.address = static_cast<std::uint8_t>(address)});
    }
    return boards;
}

} // namespace

CommandLine parseCommandLine(int argc, const char *const *argv) {
    CommandLine line;
    std::vector<BootloaderOptions> boards(1);
    bool modbus = false;
    std::string version = BootloaderOptions{}.version;
    bool verifyAtEnd = false;
    bool returns = false;
    Faults &faults = line.options.faults;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        const auto value = [&]() -> std::string_view {
            if (i + 1 >= argc) {
                throw UsageError(std::string(option) + " needs a value");
            }
            return argv[++i];
        };
        if (option == "--help") {
            line.request = CommandLine::Request::Help;
            return line;
        } else if (option == "--version") {
            line.request = CommandLine::Request::Version;
            return line;
        } else if (option == "--modbus") {
            modbus = true;
        } else if (option == "--address") {
            boards = boardsAt(value());
        } else if (option == "--board-version") {
            version = value();
        } else if (option == "--verify-at-end") {
            verifyAtEnd = true;
        } else if (option == "--link") {
            line.link = value();
        } else if (option == "--preload") {
            line.preload = value();
        } else if (option == "--baud") {
            faults.baud = atLeast(option, value(), 1);
        } else if (option == "--latency") {
            faults.latencyMs = atLeast(option, value(), 0);
        } else if (option == "--split") {
            faults.splitAnswers = true;
        } else if (option == "--trickle") {
            faults.trickle = true;
        } else if (option == "--garbage") {
            faults.garbageBefore = true;
        } else if (option == "--bare-frames") {
            faults.bareFrames = true;
        } else if (option == "--corrupt-crc") {
            faults.corruptCrcEvery = number<unsigned>(option, value());
        } else if (option == "--silent") {
            faults.silent = true;
        } else if (option == "--withhold") {
            for (const auto command : numbers<std::uint64_t>(option, value())) {
                faults.withhold.insert(command);
            }
        } else if (option == "--late") {
            addLate(faults.lateMs, value());
        } else if (option == "--appear-after") {
            faults.appearAfterMs = atLeast(option, value(), 0);
        } else if (option == "--drop-after") {
            faults.dropAfterLine = atLeast(option, value(), 1);
        } else if (option == "--drop-for") {
            faults.dropForMs = atLeast(option, value(), 0);
            returns = true;
        } else if (option == "--lose") {
            faults.loseRecords = atLeast(option, value(), 0);
        } else if (option == "--reset-at") {
            faults.resetAtLine = atLeast(option, value(), 1);
        } else if (option == "--swap-after-drop") {
            faults.swapAfterDrop = std::string(value());
        } else if (option == "--verbose") {
            line.verbose = true;
        } else {
            throw UsageError("unknown option " + std::string(option));
        }
    }
    if (boards.size() > 1 && !modbus) {
        throw UsageError("several addresses make a bus, which needs --modbus");
    }
    if (returns && line.link.empty()) {
        throw UsageError("--drop-for needs --link: the port comes back under that name");
    }
    if (faults.swapAfterDrop && !returns) {
        throw UsageError("--swap-after-drop needs --drop-for: only a port that comes back brings "
                         "another board");
    }
    for (BootloaderOptions &board : boards) {
        board.modbus = modbus;
        board.version = version;
        board.verifyReportsAtEnd = verifyAtEnd;
    }
    line.options.boards = std::move(boards);
    return line;
}

} // namespace simboard
