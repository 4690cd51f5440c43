#include "flash/JournalLog.h"

#include "flash/Firmware.h"
#include "flash/Report.h"
#include "io/Journal.h"
#include "io/JournalFormat.h"

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

} // namespace

int printJobLog(const JournalPlace &place, const LogQuery &query, bool json) {
    RunReport failure;
    failure.command = QStringLiteral("log");
    const ReportForm form = json ? ReportForm::Json : ReportForm::Text;
    JobFilter filter;
    filter.since = query.since;
    filter.result = query.result;
    filter.serial = query.serial;
    filter.station = query.station;
    filter.limit = query.limit;
    if (!query.firmware.isEmpty()) {
        const FileDigest digest = digestOf(query.firmware);
        if (!digest.problem.isEmpty()) {
            failure.usageError = QStringLiteral("--firmware: ") + digest.problem;
            return printReport(failure, form);
        }
        filter.firmwareSha256 = digest.sha256;
    }
    auto journal = Journal::openReadOnly(place);
    if (!journal) {
        failure.problems << journal.error;
        return printReport(failure, form);
    }
    const auto rows = (*journal)->list(filter);
    if (!rows) {
        failure.problems << rows.error;
        return printReport(failure, form);
    }
    // As grep does: a unit looked up by its number that no job numbered is told, and exit 1.
    if (query.serial && rows->empty()) {
        std::fprintf(stderr, "quenta-flash: no job wrote the serial number %llu\n",
                     static_cast<unsigned long long>(*query.serial));
        return exitCode(JobResult::Refused);
    }
    const QByteArray out = listed(*rows, query.form);
    if (std::fwrite(out.constData(), 1, static_cast<std::size_t>(out.size()), stdout) !=
            static_cast<std::size_t>(out.size()) ||
        std::fflush(stdout) != 0) {
        std::fputs("quenta-flash: the jobs could not be written to standard output\n", stderr);
        return kNotRecorded;
    }
    return 0;
}

} // namespace quenta::flash
