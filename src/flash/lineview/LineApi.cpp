#include "flash/lineview/LineApi.h"

#include "flash/frame/LogFilters.h"
#include "flash/lineview/JobListing.h"
#include "flash/lineview/SummaryJson.h"
#include "io/journal/JournalFormat.h"

#include <QRegularExpression>

#include <map>

namespace quenta::flash {
namespace {

constexpr int kDefaultLimit = 20;

struct Span {
    const char *name;
    int hours;
};
constexpr Span kSpans[] = {{"1h", 1}, {"8h", 8}, {"24h", 24}, {"7d", 168}};
constexpr char kDefaultSpan[] = "8h";

// The parameters of a request, each given at most once and each known.
struct Parameters {
    std::map<QString, QString> values;
    QString wrong;

    bool has(const char *name) const { return values.count(QLatin1String(name)) != 0; }
    QString operator[](const char *name) const {
        const auto found = values.find(QLatin1String(name));
        return found != values.end() ? found->second : QString();
    }
};

Parameters parametersOf(const QUrlQuery &query, const QStringList &known) {
    Parameters parameters;
    for (const auto &[name, value] : query.queryItems(QUrl::FullyDecoded)) {
        if (!known.contains(name)) {
            parameters.wrong = QStringLiteral("unknown parameter \"%1\" (known: %2)")
                                   .arg(name, known.join(QStringLiteral(", ")));
            return parameters;
        }
        if (!parameters.values.emplace(name, value).second) {
            parameters.wrong = QStringLiteral("the parameter \"%1\" is given twice").arg(name);
            return parameters;
        }
    }
    return parameters;
}

QString readSha(const Parameters &p, QString &sha) {
    static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]{64}$"));
    if (!p.has("firmware_sha256")) {
        return {};
    }
    sha = p["firmware_sha256"];
    return hex.match(sha).hasMatch()
               ? QString()
               : QStringLiteral("firmware_sha256 must be 64 hexadecimal digits");
}

// A name to filter by, a station's or a recipe's: none when the parameter is not given.
QString readName(const Parameters &p, const char *parameter, QString &name) {
    name = p[parameter];
    return p.has(parameter) && name.isEmpty()
               ? QStringLiteral("%1 needs a name").arg(QLatin1String(parameter))
               : QString();
}

// The limit of a listing: 1 to a page's jobs for JSON, any number (0: all) for CSV.
QString readLimit(const Parameters &p, bool csv, int &limit) {
    if (!p.has("limit")) {
        return {};
    }
    bool ok = false;
    limit = p["limit"].toInt(&ok);
    if (csv) {
        return ok && limit >= 0 ? QString()
                                : QStringLiteral("limit must be a whole number, 0 (all) or more");
    }
    return ok && limit >= 1 && limit <= kMaxPage
               ? QString()
               : QStringLiteral("limit must be a whole number from 1 to %1").arg(kMaxPage);
}

// The jobs filter of the query: empty when read, else what is wrong.
QString readJobFilter(const Parameters &p, bool csv, JobFilter &filter) {
    LogQuery log;
    const std::pair<const char *, QString (*)(const QString &, LogQuery &)> shared[] = {
        {"since", readSinceFilter}, {"result", readResultFilter}, {"serial", readSerialFilter}};
    for (const auto &[name, read] : shared) {
        if (p.has(name)) {
            if (const QString wrong = read(p[name], log); !wrong.isEmpty()) {
                return QStringLiteral("%1 %2").arg(QLatin1String(name), wrong);
            }
        }
    }
    filter.since = log.since;
    filter.result = log.result;
    filter.serial = log.serial;
    filter.limit = kDefaultLimit;
    if (p.has("after")) {
        filter.after = readCursor(p["after"]);
        if (!filter.after) {
            return QStringLiteral("after must be the cursor a page's link gives");
        }
    }
    for (const QString &wrong :
         {readLimit(p, csv, filter.limit), readSha(p, filter.firmwareSha256),
          readName(p, "station", filter.station), readName(p, "recipe", filter.recipe)}) {
        if (!wrong.isEmpty()) {
            return wrong;
        }
    }
    return {};
}

Reply journalAway(JournalKeeper &keeper) {
    return errorReply(503, keeper.why());
}

// Every job that wrote a serial number, as JSON; 404 when none did.
Reply unitJobs(JournalKeeper &keeper, const JobFilter &filter, const QString &serial) {
    Journal *journal = keeper.journal();
    if (journal == nullptr) {
        return journalAway(keeper);
    }
    const auto rows = journal->list(filter);
    if (!rows) {
        keeper.drop(rows.error);
        return journalAway(keeper);
    }
    if (rows->empty()) {
        return errorReply(404, QStringLiteral("no job wrote the serial number %1").arg(serial));
    }
    return {200, "application/json", jobsJson(*rows), {}, {}};
}

Reply jobs(JournalKeeper &keeper, const QUrlQuery &query, bool csv) {
    const Parameters p = parametersOf(
        query, {QStringLiteral("since"), QStringLiteral("result"), QStringLiteral("serial"),
                QStringLiteral("firmware_sha256"), QStringLiteral("station"),
                QStringLiteral("recipe"), QStringLiteral("limit"), QStringLiteral("after")});
    JobFilter filter;
    const QString wrong = p.wrong.isEmpty() ? readJobFilter(p, csv, filter) : p.wrong;
    if (!wrong.isEmpty()) {
        return errorReply(400, wrong);
    }
    return csv ? jobsCsvStream(keeper, filter) : jobsPage(keeper, filter, query);
}

Reply unit(JournalKeeper &keeper, const QString &serial, const QUrlQuery &query) {
    if (!query.isEmpty()) {
        return errorReply(400, QStringLiteral("unit/N takes no parameters"));
    }
    LogQuery log;
    if (const QString wrong = readSerialFilter(serial, log); !wrong.isEmpty()) {
        return errorReply(400, QStringLiteral("the serial number ") + wrong);
    }
    JobFilter filter;
    filter.serial = log.serial;
    filter.limit = 0;
    return unitJobs(keeper, filter, serial);
}

Reply summary(JournalKeeper &keeper, const QUrlQuery &query, const QDateTime &now) {
    const Parameters p =
        parametersOf(query, {QStringLiteral("span"), QStringLiteral("station"),
                             QStringLiteral("firmware_sha256"), QStringLiteral("recipe")});
    if (!p.wrong.isEmpty()) {
        return errorReply(400, p.wrong);
    }
    const QString span = p.has("span") ? p["span"] : QString::fromLatin1(kDefaultSpan);
    int hours = 0;
    QStringList names;
    for (const Span &each : kSpans) {
        names << QLatin1String(each.name);
        hours = span == QLatin1String(each.name) ? each.hours : hours;
    }
    if (hours == 0) {
        return errorReply(400, QStringLiteral("span must be one of: %1").arg(names.join(u' ')));
    }
    SpanQuery spanQuery;
    spanQuery.now = now;
    spanQuery.since = now.addSecs(-3600LL * hours);
    for (const QString &wrong :
         {readSha(p, spanQuery.firmwareSha256), readName(p, "station", spanQuery.station),
          readName(p, "recipe", spanQuery.recipe)}) {
        if (!wrong.isEmpty()) {
            return errorReply(400, wrong);
        }
    }
    Journal *journal = keeper.journal();
    if (journal == nullptr) {
        return journalAway(keeper);
    }
    const auto counted = journal->summary(spanQuery);
    if (!counted) {
        keeper.drop(counted.error);
        return journalAway(keeper);
    }
    return {200, "application/json", summaryJson(*counted, span, hours), {}, {}};
}

} // namespace

Reply answerApi(JournalKeeper &keeper, const QString &path, const QUrlQuery &query,
                const QDateTime &now) {
    if (path == QLatin1String("summary")) {
        return summary(keeper, query, now);
    }
    if (path == QLatin1String("jobs") || path == QLatin1String("jobs.csv")) {
        return jobs(keeper, query, path.endsWith(QLatin1String(".csv")));
    }
    if (path.startsWith(QLatin1String("unit/"))) {
        return unit(keeper, path.mid(5), query);
    }
    return errorReply(404, QStringLiteral("there is no /api/%1: the API has summary, jobs, "
                                          "jobs.csv and unit/N")
                               .arg(path));
}

} // namespace quenta::flash
