#include "io/JournalTime.h"

#include <QDate>

namespace quenta {

QString journalTime(const QDateTime &moment) {
    return moment.toUTC().toString(Qt::ISODateWithMs);
}

std::optional<QDateTime> readJournalTime(const QString &text) {
    const QString trimmed = text.trimmed();
    if (const QDate date = QDate::fromString(trimmed, Qt::ISODate); date.isValid()) {
        return date.startOfDay();
    }
    QString iso = trimmed;
    if (iso.size() > 10 && iso[10] == u' ') {
        iso[10] = u'T';
    }
    const QDateTime moment = QDateTime::fromString(iso, Qt::ISODateWithMs);
    if (!moment.isValid()) {
        return std::nullopt;
    }
    return moment;
}

} // namespace quenta
