#include "flash/frame/Settings.h"

#include <array>
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

} // namespace

std::optional<Command> commandNamed(const QString &name) {
    for (const auto &[text, command] : kCommands) {
        if (name == QLatin1String(text.data(), static_cast<qsizetype>(text.size()))) {
            return command;
        }
    }
    return std::nullopt;
}

std::string_view commandName(Command command) {
    for (const auto &[text, each] : kCommands) {
        if (each == command) {
            return text;
        }
    }
    return {};
}

bool recordsJobs(Command command) {
    return command == Command::Flash || command == Command::Verify || command == Command::Install ||
           command == Command::SetAddress;
}

bool takesFile(Command command) {
    return command == Command::Flash || command == Command::Verify;
}

} // namespace quenta::flash
