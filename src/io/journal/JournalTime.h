#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace quenta {

// A moment as the journal keeps it: UTC, ISO 8601 with milliseconds, "2024-05-01T12:34:56.789Z".
// Kept that way, the texts sort as the moments do.
QString journalTime(const QDateTime &moment);

// A moment typed by people: an ISO 8601 date ("2024-05-01", midnight), or a date and time with a
// "T" or a space between them, with seconds and milliseconds or without, with "Z" or an offset
// such as "+02:00" or without one (then in local time). None for any other text.
std::optional<QDateTime> readJournalTime(const QString &text);

} // namespace quenta
