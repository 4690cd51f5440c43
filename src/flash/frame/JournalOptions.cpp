#include "flash/frame/JournalOptions.h"

#include "io/system/Login.h"

#include "flash/frame/LogFilters.h"
#include "io/journal/Journal.h"
#include "pure/JobResult.h"

#include <QSysInfo>

#include <limits>

namespace quenta::flash {
namespace {

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

// A detail of the serial numbers, which only --serial-at asks for.
QString serialDetail(const OptionValue &value, const Settings &s, Option option) {
    return s.serial || !value.given || s.recipe
               ? QString()
               : QStringLiteral("%1 needs --serial-at").arg(optionText(option));
}

// An option of the log command given to another: the mistake.
QString logOnly(const OptionValue &value, const Settings &s, Option option) {
    return s.command == Command::Log || !value.given
               ? QString()
               : QStringLiteral("%1 is for log only").arg(optionText(option));
}

} // namespace

QString knownResults() {
    QStringList names{QStringLiteral("running")};
    for (const JobResult result : kJobResults) {
        const std::string_view name = resultName(result);
        names << QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
    }
    return names.join(QLatin1Char(' '));
}

QString readJournal(const OptionValue &value, const GivenOptions &given, Settings &s) {
    // A recipe's check opens the journal the recipe names.
    const bool opened = recordsJobs(s.command) || s.command == Command::Log ||
                        s.command == Command::Serve || (s.recipe && s.command == Command::Check);
    if (given.has(Option::NoJournal) || !opened) {
        return {};
    }
    const auto place = value.given ? readJournalPlace(value.text()) : defaultJournalPlace();
    if (!place) {
        return place.error;
    }
    s.journal = *place;
    return {};
}

QString readNoJournal(const OptionValue &value, const GivenOptions &given, Settings &s) {
    if (value.given && given.has(Option::Journal)) {
        return QStringLiteral("give --journal or --no-journal, not both");
    }
    if (value.given && (s.command == Command::Log || s.command == Command::Serve)) {
        return QStringLiteral("%1 reads the journal: it cannot be given --no-journal")
            .arg(commandName(s.command).data());
    }
    return {};
}

QString readStation(const OptionValue &value, const GivenOptions &, Settings &s) {
    s.station = value.given ? value.text() : QSysInfo::machineHostName();
    if (s.station.trimmed().isEmpty()) {
        return QStringLiteral("--station needs a name");
    }
    if (value.given && s.command == Command::Log) {
        s.log.station = s.station;
    }
    return {};
}

QString readOperator(const OptionValue &value, const GivenOptions &, Settings &s) {
    s.operatorName = value.given ? value.text() : loginName();
    return s.operatorName.trimmed().isEmpty() ? QStringLiteral("--operator needs a name")
                                              : QString();
}

QString readSerialAt(const OptionValue &value, const GivenOptions &, Settings &s) {
    if (!value.given) {
        return {};
    }
    // A recipe's serial numbers are for its flash; its verify and check take none.
    if (s.command != Command::Flash) {
        return s.recipe ? QString() : QStringLiteral("--serial-at is for flash only");
    }
    if (!s.journal) {
        return QStringLiteral("--serial-at needs a journal: the numbers come from it");
    }
    const auto address = byteAddress(value.text());
    if (!address) {
        return QStringLiteral("--serial-at must be a byte address, 0x... or decimal, below 4 GiB");
    }
    s.serial = SerialStamp{};
    s.serial->address = *address;
    return {};
}

QString readSerialStart(const OptionValue &value, const GivenOptions &, Settings &s) {
    if (!s.serial) {
        return serialDetail(value, s, Option::SerialStart);
    }
    const auto start = number(value.text(), kLargestSerialNumber);
    if (!start) {
        return QStringLiteral("--serial-start must be a whole number from 0 to %1")
            .arg(kLargestSerialNumber);
    }
    s.serial->start = *start;
    return {};
}

QString readSerialBytes(const OptionValue &value, const GivenOptions &, Settings &s) {
    if (!s.serial) {
        return serialDetail(value, s, Option::SerialBytes);
    }
    const auto bytes = number(value.text(), 8);
    if (!bytes || *bytes < 1) {
        return QStringLiteral("--serial-bytes must be 1 to 8");
    }
    s.serial->bytes = static_cast<unsigned>(*bytes);
    return {};
}

QString readSerialFormat(const OptionValue &value, const GivenOptions &, Settings &s) {
    if (!s.serial) {
        return serialDetail(value, s, Option::SerialFormat);
    }
    const auto format = serialFormatNamed(value.text().toStdString());
    if (!format) {
        return QStringLiteral("--serial-format must be le, be or retlw");
    }
    s.serial->format = *format;
    return {};
}

QString readSerialSeries(const OptionValue &value, const GivenOptions &, Settings &s) {
    if (!s.serial) {
        return serialDetail(value, s, Option::SerialSeries);
    }
    s.serial->series = value.text();
    return s.serial->series.isEmpty() ? QStringLiteral("--serial-series needs a name") : QString();
}

QString checkSerialStamp(const Settings &s) {
    if (!s.serial) {
        return {};
    }
    const SerialStamp &stamp = *s.serial;
    if (stamp.format == SerialFormat::Retlw && stamp.address % 2 != 0) {
        return QStringLiteral("--serial-format retlw writes whole instruction words: --serial-at "
                              "needs an even address");
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
    return {};
}

// A filter of `log`: refused for other commands; its reader's complaint follows the option's name.
QString readLogFilter(const OptionValue &value, Settings &s, Option option,
                      QString (*read)(const QString &, LogQuery &), QLatin1StringView name) {
    if (s.command != Command::Log || !value.given) {
        return logOnly(value, s, option);
    }
    const QString wrong = read(value.text(), s.log);
    return wrong.isEmpty() ? QString() : name + QLatin1Char(' ') + wrong;
}

QString readSince(const OptionValue &value, const GivenOptions &, Settings &s) {
    return readLogFilter(value, s, Option::Since, readSinceFilter, QLatin1StringView("--since"));
}

QString readResult(const OptionValue &value, const GivenOptions &, Settings &s) {
    return readLogFilter(value, s, Option::Result, readResultFilter, QLatin1StringView("--result"));
}

QString readSerialWanted(const OptionValue &value, const GivenOptions &, Settings &s) {
    return readLogFilter(value, s, Option::Serial, readSerialFilter, QLatin1StringView("--serial"));
}

QString readFirmware(const OptionValue &value, const GivenOptions &, Settings &s) {
    if (s.command != Command::Log || !value.given) {
        return logOnly(value, s, Option::Firmware);
    }
    s.log.firmware = value.text();
    return {};
}

QString readLimit(const OptionValue &value, const GivenOptions &, Settings &s) {
    if (s.command != Command::Log) {
        return logOnly(value, s, Option::Limit);
    }
    const auto limit = number(value.text(), std::numeric_limits<int>::max());
    if (!limit) {
        return QStringLiteral("--limit must be a whole number, 0 (all) or more");
    }
    s.log.limit = static_cast<int>(*limit);
    return {};
}

QString readCsv(const OptionValue &value, const GivenOptions &, Settings &s) {
    if (s.command != Command::Log) {
        return logOnly(value, s, Option::Csv);
    }
    if (value.given && s.json) {
        return QStringLiteral("give --csv or --json, not both");
    }
    if (s.jsonLines) {
        return QStringLiteral("log prints a table, --csv or --json: not --json-lines");
    }
    s.log.form = value.given ? LogQuery::Form::Csv
                 : s.json    ? LogQuery::Form::Json
                             : LogQuery::Form::Table;
    return {};
}

} // namespace quenta::flash
