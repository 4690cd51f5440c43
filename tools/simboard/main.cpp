// quenta-simboard: a simulated bootloader board on a pseudo-terminal, for trying the loader out
// without hardware.

#include "simboard/PtyBoard.h"

#include <charconv>
#include <csignal>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace {

constexpr std::string_view kUsage = R"(Usage: quenta-simboard [OPTION]...
Simulates a bootloader board on a pseudo-terminal until interrupted.

  --modbus           frame commands and answers as Modbus RTU
  --address N        the Modbus address, 1 to 255 (default 1)
  --version TEXT     the version the board reports as VER=TEXT (default 4.1)
  --link PATH        also reach the board through a symbolic link at PATH
  --preload FILE     fill the memory from an Intel HEX file first
  --split            send each answer in two pieces, 45 ms apart
  --trickle          send answers one byte at a time at the pace of 9600 baud
  --garbage          send a few noise bytes in front of each answer
  --corrupt-crc N    Modbus: send every Nth answer with a wrong CRC
  --silent           take commands in but never answer
  --appear-after MS  create the link only MS milliseconds after starting
  --verbose          print each command and answer to standard error
  --help             print this help and exit
)";

struct Settings {
    simboard::Options options;
    std::string link;
    std::string preload;
    bool verbose = false;
};

class UsageError : public std::exception {
public:
    explicit UsageError(std::string message) : message_(std::move(message)) {}
    const char *what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

template <typename Number> Number number(std::string_view option, std::string_view text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        throw UsageError(std::string(option) + " takes a number, not '" + std::string(text) + "'");
    }
    return value;
}

// Bytes as text: printable characters as they are, the others escaped.
std::string escaped(std::string_view bytes) {
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            text += "\\r";
        } else if (c == '\n') {
            text += "\\n";
        } else if (c == '\\') {
            text += "\\\\";
        } else if (byte >= 0x20 && byte < 0x7F) {
            text += c;
        } else {
            static constexpr char kHex[] = "0123456789ABCDEF";
            text += "\\x";
            text += kHex[byte >> 4];
            text += kHex[byte & 0xF];
        }
    }
    return text;
}

std::optional<Settings> parse(int argc, char **argv) {
    Settings settings;
    simboard::BootloaderOptions &bootloader = settings.options.bootloader;
    simboard::Faults &faults = settings.options.faults;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        const auto value = [&]() -> std::string_view {
            if (i + 1 >= argc) {
                throw UsageError(std::string(option) + " needs a value");
            }
            return argv[++i];
        };
        if (option == "--help") {
            return std::nullopt;
        } else if (option == "--modbus") {
            bootloader.modbus = true;
        } else if (option == "--address") {
            const auto address = number<unsigned>(option, value());
            if (address < 1 || address > 255) {
                throw UsageError("--address takes 1 to 255");
            }
            bootloader.address = static_cast<std::uint8_t>(address);
        } else if (option == "--version") {
            bootloader.version = value();
        } else if (option == "--link") {
            settings.link = value();
        } else if (option == "--preload") {
            settings.preload = value();
        } else if (option == "--split") {
            faults.splitAnswers = true;
        } else if (option == "--trickle") {
            faults.trickle = true;
        } else if (option == "--garbage") {
            faults.garbageBefore = true;
        } else if (option == "--corrupt-crc") {
            faults.corruptCrcEvery = number<unsigned>(option, value());
        } else if (option == "--silent") {
            faults.silent = true;
        } else if (option == "--appear-after") {
            faults.appearAfterMs = number<int>(option, value());
        } else if (option == "--verbose") {
            settings.verbose = true;
        } else {
            throw UsageError("unknown option " + std::string(option));
        }
    }
    return settings;
}

simboard::Memory preloaded(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read " + path);
    }
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    simboard::HexImage image = simboard::readHexImage(text);
    if (image.badLine != 0) {
        throw std::runtime_error(path + ":" + std::to_string(image.badLine) +
                                 ": no Intel HEX record");
    }
    return std::move(image.memory);
}

int serve(Settings settings) {
    if (!settings.preload.empty()) {
        settings.options.bootloader.memory = preloaded(settings.preload);
    }
    if (settings.verbose) {
        const bool silent = settings.options.faults.silent;
        settings.options.monitor = [silent](const simboard::Exchange &exchange) {
            std::ostringstream line;
            line << "<- " << escaped(exchange.command) << "\n-> "
                 << (silent ? "(silent)" : escaped(exchange.answer)) << '\n';
            std::cerr << line.str() << std::flush;
        };
    }

    // Blocked before the board's thread starts, so that only sigwait() below takes them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    const bool modbus = settings.options.bootloader.modbus;
    simboard::PtyBoard board(std::move(settings.options), settings.link);
    board.start();
    std::ostringstream announcement;
    announcement << "Simulated board on " << board.devicePath();
    if (!settings.link.empty()) {
        announcement << " (link " << settings.link << ')';
    }
    if (modbus) {
        announcement << ", Modbus address " << static_cast<unsigned>(board.address());
    }
    std::cout << announcement.str() << std::endl;

    int signal = 0;
    sigwait(&stopSignals, &signal);
    board.stop();
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    try {
        auto settings = parse(argc, argv);
        if (!settings) {
            std::cout << kUsage;
            return 0;
        }
        return serve(std::move(*settings));
    } catch (const UsageError &error) {
        std::cerr << "quenta-simboard: " << error.what() << '\n' << kUsage;
        return 2;
    } catch (const std::exception &error) {
        std::cerr << "quenta-simboard: " << error.what() << '\n';
        return 1;
    }
}
