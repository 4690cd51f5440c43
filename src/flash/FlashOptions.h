#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <string_view>
#include <vector>

namespace quenta::flash {

enum class Command { Flash, Verify, Install, Version, SetAddress, Scan, Check, Ports };

// The Modbus boards a run is for: the first that answers, the given ones, or all a scan finds.
struct AddressChoice {
    enum class Kind { First, List, All };
    Kind kind = Kind::First;
    std::vector<std::uint8_t> list;
};

// What a run is asked to do, checked.
struct Settings {
    Command command = Command::Ports;
    QString file;                // flash, verify
    std::uint8_t newAddress = 0; // set-address
    QStringList ports;           // device paths, COMn already turned into /dev/ttyS(n-1)
    int baud = 115200;
    bool usb = false;
    bool modbus = false;
    AddressChoice addresses;
    int timeoutMs = 1000;
    int retries = 2;
    int waitMs = 10000;
    bool json = false;
    bool quiet = false;
};

struct ParsedArguments {
    enum class Action { Run, Help, Version, ManPage, Completion, UsageError };
    Action action = Action::UsageError;
    Settings settings;
    QString error;   // UsageError: what is wrong, for people
    QString command; // the command as given, when it is one
};

// One option as the parser, the help, the man page and the completion see it.
struct OptionSpec {
    QStringList names;   // short name first, if any
    QString valueName;   // empty for a switch
    QString description; // one paragraph
    // What completes its value: "@ports" (the serial ports), or the words, blank-separated.
    QString completion;
    bool hidden = false; // made for the build, not for people
};

// One command as the help, the man page and the completion see it.
struct CommandSpec {
    Command command;
    QString argument; // "FILE", "N" or empty
    QString description;
};

const std::vector<OptionSpec> &optionTable();
const std::vector<CommandSpec> &commandTable();

// Reads and checks the command line (the program's name first). Every mistake is a usage error.
ParsedArguments parseArguments(const QStringList &arguments);

// The command's name as it is typed.
std::string_view commandName(Command command);

} // namespace quenta::flash
