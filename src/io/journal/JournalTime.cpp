#include "io/journal/JournalTime.h"

#include <QDate>

namespace quenta {

QString journalTime(const QDateTime &moment) {
    return moment.toUTC().toString(Qt::ISODateWithMs);
}

std::optional<QDateTime> readJournalTime(const QString &text) {
    // A date alone is 10 characters: Qt would read the date at the start of a longer text too.
    constexpr qsizetype kDateLength = 10;
    QString iso = text.trimmed();
    if (iso.size() == kDateLength) {
        const QDate date = QDate::fromString(iso, Qt::ISODate);
        return date.isValid() ? std::optional<QDateTime>(date.startOfDay()) : std::nullopt;
    }
    if (iso.size() > kDateLength && iso[kDateLength] == u' ') {
        iso[kDateLength] = u'T';
    }
    const QDateTime moment = QDateTime::fromString(iso, Qt::ISODateWithMs);
    if (!moment.isValid()) {
        return std::nullopt;
    }
    return moment;
}

} // namespace quenta
