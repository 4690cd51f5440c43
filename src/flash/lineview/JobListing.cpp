#include "flash/lineview/JobListing.h"

#include "io/journal/JournalFormat.h"

#include <QRegularExpression>

namespace quenta::flash {
namespace {

constexpr int kCsvPiece = 2000;

Reply journalAway(JournalKeeper &keeper) {
    return errorReply(503, keeper.why());
}

// The next rows of a listing, at most `rows` of them; none when the journal cannot be read (then
// it is dropped).
std::optional<std::vector<JobRow>> nextRows(JournalKeeper &keeper, JobFilter filter, int rows) {
    Journal *journal = keeper.journal();
    if (journal == nullptr) {
        return std::nullopt;
    }
    filter.limit = rows;
    auto listed = journal->list(filter);
    if (!listed) {
        keeper.drop(listed.error);
        return std::nullopt;
    }
    return std::move(*listed);
}

JobCursor cursorOf(const JobRow &row) {
    return {row.started, row.id};
}

// A job's place as `after` gives it.
QString cursorText(const JobCursor &cursor) {
    return cursor.started + u',' + QString::number(cursor.id);
}

// How many rows the next piece reads when `left` more are wanted (none: every one).
int pieceSize(std::optional<qint64> left) {
    return left ? static_cast<int>(std::min<qint64>(*left, kCsvPiece)) : kCsvPiece;
}

// The CSV's lines of `rows`, without its header.
QByteArray csvLines(const std::vector<JobRow> &rows) {
    static const qsizetype header = jobsCsv({}).size();
    return jobsCsv(rows).mid(header);
}

// What follows `rows`, read for a piece of `asked` rows, when `left` more are wanted (none: every
// one): nothing once the listing has no more.
std::function<BodyPiece(JournalKeeper &)> csvAfter(const std::vector<JobRow> &rows, int asked,
                                                   JobFilter filter, std::optional<qint64> left) {
    if (static_cast<int>(rows.size()) < asked || left == 0) {
        return {};
    }
    filter.after = cursorOf(rows.back());
    return [filter, left](JournalKeeper &keeper) {
        const int asked = pieceSize(left);
        const auto rows = nextRows(keeper, filter, asked);
        if (!rows) {
            return BodyPiece{{}, {}, true};
        }
        const auto stillLeft =
            left ? std::optional<qint64>(*left - static_cast<qint64>(rows->size())) : std::nullopt;
        return BodyPiece{csvLines(*rows), csvAfter(*rows, asked, filter, stillLeft)};
    };
}

} // namespace

std::optional<JobCursor> readCursor(const QString &text) {
    static const QRegularExpression form(
        QStringLiteral("^(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z),(\\d{1,18})$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    return JobCursor{match.captured(1), match.captured(2).toLongLong()};
}

Reply jobsPage(JournalKeeper &keeper, const JobFilter &filter, const QUrlQuery &query) {
    const auto rows = nextRows(keeper, filter, filter.limit);
    if (!rows) {
        return journalAway(keeper);
    }
    Reply reply{200, "application/json", jobsJson(*rows), {}, {}};
    if (static_cast<int>(rows->size()) == filter.limit) {
        QUrlQuery next = query;
        next.removeAllQueryItems(QStringLiteral("after"));
        next.addQueryItem(QStringLiteral("after"), cursorText(cursorOf(rows->back())));
        reply.headers.append({"Link", "</api/jobs?" + next.toString(QUrl::FullyEncoded).toUtf8() +
                                          ">; rel=\"next\""});
    }
    return reply;
}

Reply jobsCsvStream(JournalKeeper &keeper, const JobFilter &filter) {
    const auto wanted = filter.limit > 0 ? std::optional<qint64>(filter.limit) : std::nullopt;
    const int asked = pieceSize(wanted);
    const auto rows = nextRows(keeper, filter, asked);
    if (!rows) {
        return journalAway(keeper);
    }
    const auto left =
        wanted ? std::optional<qint64>(*wanted - static_cast<qint64>(rows->size())) : std::nullopt;
    return {200,
            "text/csv; charset=utf-8",
            jobsCsv(*rows),
            {{"Content-Disposition", "attachment; filename=\"quenta-jobs.csv\""}},
            csvAfter(*rows, asked, filter, left)};
}

} // namespace quenta::flash
