#include "pure/ResumePlan.h"

#include "pure/HexRecords.h"

#include <algorithm>

namespace quenta {

ResumePoint resumePoint(const std::vector<std::string> &records, std::size_t firstUnanswered) {
    ResumePoint point;
    point.from = std::min(firstUnanswered, records.size());
    for (std::size_t data = 0; point.from > 0 && data < kDownloadBackoff;) {
        --point.from;
        if (recordType(records[point.from]) == 0x00) {
            ++data;
        }
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

} // namespace quenta
