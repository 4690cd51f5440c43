#include "flash/frame/LogFilters.h"

#include "flash/frame/JournalOptions.h"
#include "io/journal/JournalTime.h"

#include <limits>

namespace quenta::flash {

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
