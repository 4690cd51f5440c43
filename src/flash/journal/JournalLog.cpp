#include "flash/journal/JournalLog.h"

#include "flash/frame/Firmware.h"
#include "flash/frame/Report.h"
#include "io/journal/Journal.h"
#include "io/journal/JournalFormat.h"

#include <cstdio>

namespace quenta::flash {
namespace {

QByteArray listed(const std::vector<JobRow> &rows, LogQuery::Form form) {
    switch (form) {
    case LogQuery::Form::Csv:
        return jobsCsv(rows);
    case LogQuery::Form::Json:
        return jobsJson(rows);
    case LogQuery::Form::Table:
        break;
    }
    return jobTable(rows).toUtf8();
}

// Says why the jobs cannot be listed, on standard error: the exit status.
int refuse(const QString &why, int exit) {
    std::fprintf(stderr, "quenta-flash: %s\n", why.toLocal8Bit().constData());
    return exit;
}

} // namespace

int printJobLog(const JournalPlace &place, const LogQuery &query) {
    JobFilter filter;
    filter.since = query.since;
    filter.result = query.result;
    filter.serial = query.serial;
    filter.station = query.station;
    filter.limit = query.limit;
    if (!query.firmware.isEmpty()) {
        const FileDigest digest = digestOf(query.firmware);
        if (!digest.problem.isEmpty()) {
            return refuse(QStringLiteral("--firmware: ") + digest.problem,
                          exitCode(JobResult::BadFile));
        }
        filter.firmwareSha256 = digest.sha256;
    }
    auto journal = Journal::openReadOnly(place);
    if (!journal) {
        return refuse(journal.error, kNotRecorded);
    }
    const auto rows = (*journal)->list(filter);
    if (!rows) {
        return refuse(rows.error, kNotRecorded);
    }
    // As grep does: a unit looked up by its number that no job numbered is told, and exit 1.
    if (query.serial && rows->empty()) {
        return refuse(QStringLiteral("no job in the journal %1 wrote the serial number %2")
                          .arg(place.shown(), QString::number(*query.serial)),
                      exitCode(JobResult::Refused));
    }
    // The journal read is named where it cannot be taken for a job: above the table, and on
    // standard error beside CSV and JSON.
    const QByteArray named = "journal: " + place.shown().toUtf8() + '\n';
    QByteArray out = listed(*rows, query.form);
    if (query.form == LogQuery::Form::Table) {
        out.prepend(named);
    } else {
        std::fputs(named.constData(), stderr);
    }
    if (std::fwrite(out.constData(), 1, static_cast<std::size_t>(out.size()), stdout) !=
            static_cast<std::size_t>(out.size()) ||
        std::fflush(stdout) != 0) {
        std::fputs("quenta-flash: the jobs could not be written to standard output\n", stderr);
        return kNotRecorded;
    }
    return 0;
}

} // namespace quenta::flash
