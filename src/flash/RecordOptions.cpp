#include "flash/RecordOptions.h"

#include "io/JournalTime.h"
#include "pure/JobResult.h"

#include <QSysInfo>

#include <limits>
#include <pwd.h>
#include <unistd.h>

namespace quenta::flash {
namespace {

// The largest number a series of the journal hands out.
constexpr std::uint64_t kLargestSerial = std::numeric_limits<qint64>::max() - 1;

// The options that only the log command reads.
const QStringList kLogOnly{QStringLiteral("since"),  QStringLiteral("result"),
                           QStringLiteral("serial"), QStringLiteral("firmware"),
                           QStringLiteral("limit"),  QStringLiteral("csv")};

// The serial options that need --serial-at.
const QStringList kSerialDetails{QStringLiteral("serial-start"), QStringLiteral("serial-bytes"),
                                 QStringLiteral("serial-format"), QStringLiteral("serial-series")};

bool given(const QCommandLineParser &p, const char *name) {
    return p.isSet(QLatin1String(name));
}

QString value(const QCommandLineParser &p, const char *name) {
    return p.value(QLatin1String(name));
}

std::optional<std::uint64_t> number(const QString &text, std::uint64_t highest) {
    bool ok = false;
    const qulonglong value = text.toULongLong(&ok, 10);
    return ok && !text.startsWith(QLatin1Char('+')) && value <= highest
               ? std::optional<std::uint64_t>(value)
               : std::nullopt;
}

// "0x..." in hexadecimal, else decimal.
std::optional<std::uint32_t> byteAddress(const QString &text) {
    const bool hex = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
    bool ok = false;
    const qulonglong value = (hex ? text.mid(2) : text).toULongLong(&ok, hex ? 16 : 10);
    return ok && !text.contains(QLatin1Char('+')) && !text.contains(QLatin1Char('-')) &&
                   value <= std::numeric_limits<std::uint32_t>::max()
               ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(value))
               : std::nullopt;
}

QString loginName() {
    const passwd *entry = ::getpwuid(::getuid());
    return entry != nullptr ? QString::fromLocal8Bit(entry->pw_name) : QString::number(::getuid());
}

QString knownResults() {
    QStringList names{QStringLiteral("running")};
    for (const JobResult result :
         {JobResult::Ok, JobResult::Refused, JobResult::WrongBoard, JobResult::BadFile,
          JobResult::PortError, JobResult::NoAnswer, JobResult::PortLost, JobResult::Interrupted}) {
        const std::string_view name = resultName(result);
        names << QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
    }
    return names.join(QLatin1Char(' '));
}

QString readJournal(const QCommandLineParser &p, Settings &s) {
    const bool none = given(p, "no-journal");
    if (none && given(p, "journal")) {
        return QStringLiteral("give --journal or --no-journal, not both");
    }
    if (none && s.command == Command::Log) {
        return QStringLiteral("log reads the journal: it cannot be given --no-journal");
    }
    if (none || !(recordsJobs(s.command) || s.command == Command::Log)) {
        return {};
    }
    const auto place =
        given(p, "journal") ? readJournalPlace(value(p, "journal")) : defaultJournalPlace();
    if (!place) {
        return place.error;
    }
    s.journal = *place;
    return {};
}

QString readNames(const QCommandLineParser &p, Settings &s) {
    s.station = given(p, "station") ? value(p, "station") : QSysInfo::machineHostName();
    s.operatorName = given(p, "operator") ? value(p, "operator") : loginName();
    if (s.station.trimmed().isEmpty() || s.operatorName.trimmed().isEmpty()) {
        return QStringLiteral("--station and --operator need a name");
    }
    return {};
}

QString readSerial(const QCommandLineParser &p, Settings &s) {
    if (!given(p, "serial-at")) {
        for (const QString &name : kSerialDetails) {
            if (p.isSet(name)) {
                return QStringLiteral("--%1 needs --serial-at").arg(name);
            }
        }
        return {};
    }
    if (s.command != Command::Flash) {
        return QStringLiteral("--serial-at is for flash only");
    }
    if (!s.journal) {
        return QStringLiteral("--serial-at needs a journal: the numbers come from it");
    }
    SerialStamp stamp;
    const auto address = byteAddress(value(p, "serial-at"));
    if (!address) {
        return QStringLiteral("--serial-at must be a byte address, 0x... or decimal, below 4 GiB");
    }
    stamp.address = *address;
    if (given(p, "serial-start")) {
        const auto start = number(value(p, "serial-start"), kLargestSerial);
        if (!start) {
            return QStringLiteral("--serial-start must be a whole number from 0 to %1")
                .arg(kLargestSerial);
        }
        stamp.start = *start;
    }
    if (given(p, "serial-bytes")) {
        const auto bytes = number(value(p, "serial-bytes"), 8);
        if (!bytes || *bytes < 1) {
            return QStringLiteral("--serial-bytes must be 1 to 8");
        }
        stamp.bytes = static_cast<unsigned>(*bytes);
    }
    if (given(p, "serial-format")) {
        const auto format = serialFormatNamed(value(p, "serial-format").toStdString());
        if (!format) {
            return QStringLiteral("--serial-format must be le, be or retlw");
        }
        stamp.format = *format;
    }
    if (stamp.format == SerialFormat::Retlw && stamp.address % 2 != 0) {
        return QStringLiteral("--serial-format retlw writes whole instruction words: --serial-at "
                              "needs an even address");
    }
    if (given(p, "serial-series")) {
        stamp.series = value(p, "serial-series");
        if (stamp.series.isEmpty()) {
            return QStringLiteral("--serial-series needs a name");
        }
    }
    const auto bytes = serialBytes(stamp.start, stamp.bytes, stamp.format);
    if (!bytes) {
        return QStringLiteral("the serial number %1 does not fit in %2 bytes")
            .arg(stamp.start)
            .arg(stamp.bytes);
    }
    if (stamp.address + std::uint64_t{bytes->size()} > std::uint64_t{1} << 32) {
        return QStringLiteral("%1 bytes at --serial-at %2 reach past the 4 GiB a HEX file "
                              "addresses")
            .arg(bytes->size())
            .arg(stamp.address);
    }
    s.serial = stamp;
    return {};
}

QString readLog(const QCommandLineParser &p, Settings &s) {
    if (s.command != Command::Log) {
        for (const QString &name : kLogOnly) {
            if (p.isSet(name)) {
                return QStringLiteral("--%1 is for log only").arg(name);
            }
        }
        return {};
    }
    LogQuery &q = s.log;
    if (given(p, "since")) {
        const auto since = readJournalTime(value(p, "since"));
        if (!since) {
            return QStringLiteral("--since must be an ISO 8601 time, such as 2024-05-01 or "
                                  "2024-05-01T08:00+02:00");
        }
        q.since = *since;
    }
    q.result = value(p, "result");
    if (!q.result.isEmpty() && !knownResults().split(QLatin1Char(' ')).contains(q.result)) {
        return QStringLiteral("--result must be one of: %1").arg(knownResults());
    }
    if (given(p, "serial")) {
        q.serial = number(value(p, "serial"), std::numeric_limits<std::uint64_t>::max());
        if (!q.serial) {
            return QStringLiteral("--serial must be a whole number, 0 or more");
        }
    }
    q.firmware = value(p, "firmware");
    if (given(p, "station")) {
        q.station = s.station;
    }
    if (given(p, "limit")) {
        const auto limit = number(value(p, "limit"), std::numeric_limits<int>::max());
        if (!limit) {
            return QStringLiteral("--limit must be a whole number, 0 (all) or more");
        }
        q.limit = static_cast<int>(*limit);
    }
    if (given(p, "csv") && s.json) {
        return QStringLiteral("give --csv or --json, not both");
    }
    if (s.jsonLines) {
        return QStringLiteral("log prints a table, --csv or --json: not --json-lines");
    }
    q.form = given(p, "csv") ? LogQuery::Form::Csv
             : s.json        ? LogQuery::Form::Json
                             : LogQuery::Form::Table;
    return {};
}

} // namespace

QString readRecordOptions(const QCommandLineParser &parser, Settings &settings) {
    for (const auto read : {readJournal, readNames, readSerial, readLog}) {
        if (QString error = read(parser, settings); !error.isEmpty()) {
            return error;
        }
    }
    return {};
}

} // namespace quenta::flash
