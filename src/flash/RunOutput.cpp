#include "flash/RunOutput.h"

#include "flash/JsonReport.h"
#include "flash/TextReport.h"

#include <cstdio>

namespace quenta::flash {

int printReport(const RunReport &report, bool json) {
    if (!report.usageError.isEmpty()) {
        std::fprintf(stderr, "quenta-flash: %s\nTry quenta-flash --help.\n",
                     report.usageError.toLocal8Bit().constData());
    }
    const QByteArray out = json ? jsonReport(report) : textReport(report).toLocal8Bit();
    std::fwrite(out.constData(), 1, static_cast<std::size_t>(out.size()), stdout);
    std::fflush(stdout);
    return report.exit();
}

} // namespace quenta::flash
