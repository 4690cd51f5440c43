#include "flash/LogFilters.h"

#include "io/JournalTime.h"
#include "pure/JobResult.h"

#include <limits>

namespace quenta::flash {
namespace {

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

} // namespace

QString readSinceFilter(const QString &text, LogQuery &query) {
    const auto since = readJournalTime(text);
    if (!since) {
        return QStringLiteral("must be an ISO 8601 time, such as 2024-05-01 or "
                              "2024-05-01T08:00+02:00");
    }
    query.since = *since;
    return {};
}

QString readResultFilter(const QString &text, LogQuery &query) {
    if (!knownResults().split(QLatin1Char(' ')).contains(text)) {
        return QStringLiteral("must be one of: %1").arg(knownResults());
    }
    query.result = text;
    return {};
}

QString readSerialFilter(const QString &text, LogQuery &query) {
    bool ok = false;
    const qulonglong value = text.toULongLong(&ok, 10);
    if (!ok || text.startsWith(QLatin1Char('+'))) {
        return QStringLiteral("must be a whole number, 0 or more");
    }
    query.serial = value;
    return {};
}

} // namespace quenta::flash
