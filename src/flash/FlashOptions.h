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
    enum class Action { Run, Help, Version, UsageError };
    Action action = Action::UsageError;
    Settings settings;
    QString error; // UsageError: what is wrong, for people
};

// Reads and checks the command line (the program's name first). Every mistake is a usage error.
ParsedArguments parseArguments(const QStringList &arguments);

// The command's name as it is typed.
std::string_view commandName(Command command);

// The help text: the synopsis, the commands, the options and the exit status.
QString helpText();

} // namespace quenta::flash
