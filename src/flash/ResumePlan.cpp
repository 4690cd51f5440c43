#include "flash/ResumePlan.h"

#include "pure/HexRecords.h"

#include <algorithm>

namespace quenta::flash {

ResumePoint resumePoint(const std::vector<std::string> &records, std::size_t firstUnanswered,
                        Pass pass) {
    const std::size_t unanswered = std::min(firstUnanswered, records.size());
    ResumePoint point;
    if (pass == Pass::Verify) {
        point.from = unanswered;
    } else {
        point.from = unanswered > kDownloadBackoff ? unanswered - kDownloadBackoff : 0;
    }
    if (point.from < records.size() && isAddressRecord(records[point.from])) {
        return point;
    }
    for (std::size_t i = point.from; i-- > 0;) {
        if (isAddressRecord(records[i])) {
            point.addressRecord = i;
            break;
        }
    }
    return point;
}

} // namespace quenta::flash
