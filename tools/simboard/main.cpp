// quenta-simboard: simulated bootloader boards on a pseudo-terminal, for trying the loader out
// without hardware.

#include "simboard/CommandLine.h"
#include "simboard/PtyBoard.h"

#include <csignal>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace {

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

void printExchange(const simboard::Exchange &exchange) {
    std::ostringstream line;
    line << "<- " << escaped(exchange.command) << "\n-> "
         << (exchange.answer.empty() ? "(no answer)" : escaped(exchange.answer)) << '\n';
    std::cerr << line.str() << std::flush;
}

// "Simulated board on /dev/pts/3 (link /tmp/board), Modbus addresses 3, 7, 12"
std::string announcement(const simboard::PtyBoard &board, const simboard::CommandLine &line) {
    std::ostringstream text;
    text << "Simulated board on " << board.devicePath();
    if (!line.link.empty()) {
        text << " (link " << line.link << ')';
    }
    const auto &boards = line.options.boards;
    if (boards.front().modbus) {
        text << ", Modbus address" << (boards.size() > 1 ? "es " : " ");
        for (std::size_t i = 0; i < boards.size(); ++i) {
            text << (i == 0 ? "" : ", ") << static_cast<unsigned>(board.address(i));
        }
    }
    return text.str();
}

int serve(simboard::CommandLine line) {
    if (!line.preload.empty()) {
        const simboard::Memory memory = preloaded(line.preload);
        for (simboard::BootloaderOptions &board : line.options.boards) {
            board.memory = memory;
        }
    }
    if (line.verbose) {
        line.options.monitor = printExchange;
    }

    // Blocked before the board's thread starts, so that only sigwait() below takes them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    simboard::PtyBoard board(line.options, line.link);
    board.start();
    std::cout << announcement(board, line) << std::endl;

    int signal = 0;
    sigwait(&stopSignals, &signal);
    board.stop();
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    try {
        simboard::CommandLine line = simboard::parseCommandLine(argc, argv);
        switch (line.request) {
        case simboard::CommandLine::Request::Help:
            std::cout << simboard::kUsage;
            return 0;
        case simboard::CommandLine::Request::Version:
            std::cout << "quenta-simboard " SIMBOARD_VERSION "\n";
            return 0;
        case simboard::CommandLine::Request::Serve:
            break;
        }
        return serve(std::move(line));
    } catch (const simboard::UsageError &error) {
        std::cerr << "quenta-simboard: " << error.what() << '\n' << simboard::kUsage;
        return 2;
    } catch (const std::exception &error) {
        std::cerr << "quenta-simboard: " << error.what() << '\n';
        return 1;
    }
}
