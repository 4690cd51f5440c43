#pragma once

#include "flash/frame/ServeSettings.h"
#include "io/journal/JournalPlace.h"
#include "pure/SerialNumber.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace quenta::flash {

struct Recipe;

enum class Command { Flash, Verify, Install, Version, SetAddress, Scan, Check, Ports, Log, Serve };

// The Modbus boards a run is for: the first that answers, the given ones, or every board a scan
// of a range of addresses finds ("all" is 1..127).
struct AddressChoice {
    enum class Kind { First, List, Range };
    Kind kind = Kind::First;
    std::vector<std::uint8_t> list; // List
    std::uint8_t from = 1;          // Range, and the range that First looks through
    std::uint8_t to = 127;
};

// Where each board of a flash gets its serial number, and how it is written.
struct SerialStamp {
    std::uint32_t address = 0; // a byte address of the HEX file
    std::uint64_t start = 1;   // the first number of a new series
    unsigned bytes = 4;        // 1..8
    SerialFormat format = SerialFormat::LittleEndian;
    QString series = QStringLiteral("default");
};

// Which recorded jobs the log command shows, and how.
struct LogQuery {
    enum class Form { Table, Csv, Json };
    QDateTime since; // not valid: any time
    QString result;
    std::optional<std::uint64_t> serial;
    QString firmware; // a file, matched by its SHA-256
    QString station;
    int limit = 20; // 0: all
    Form form = Form::Table;
};

// What a run is asked to do, checked. Each option's default is in the option table.
struct Settings {
    Command command = Command::Ports;
    QString file;                // flash, verify
    std::uint8_t newAddress = 0; // set-address
    QStringList ports;           // device paths, COMn already turned into /dev/ttyS(n-1)
    int baud = 0;
    bool usb = false;
    bool modbus = false;
    AddressChoice addresses;
    int timeoutMs = 0;
    int retries = 0;
    int verifyPasses = 1;
    int waitMs = 0;
    bool json = false;
    bool jsonLines = false;
    bool quiet = false;
    // Where the jobs are recorded (log and serve: read); none with --no-journal, and for the
    // commands that record nothing (version, scan, check, ports).
    std::optional<JournalPlace> journal;
    QString station;      // this station's name in the journal
    QString operatorName; // who flashes
    std::optional<SerialStamp> serial;
    LogQuery log;
    ServeSettings serve;
    std::shared_ptr<const Recipe> recipe; // what the run follows; none without --recipe
};

// The command of a name as it is typed; none for another word.
std::optional<Command> commandNamed(const QString &name);

// The command's name as it is typed.
std::string_view commandName(Command command);

// Whether the command's board jobs are recorded in the journal.
bool recordsJobs(Command command);

// Whether the command reads a firmware file.
bool takesFile(Command command);

} // namespace quenta::flash
