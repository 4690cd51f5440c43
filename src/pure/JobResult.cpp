#include "pure/JobResult.h"

#include <algorithm>

namespace quenta {

int exitCode(JobResult result) {
    return result == JobResult::Interrupted ? 128 : static_cast<int>(result);
}

std::string_view resultName(JobResult result) {
    switch (result) {
    case JobResult::Ok:
        return "ok";
    case JobResult::Refused:
        return "refused";
    case JobResult::BadFile:
        return "bad-file";
    case JobResult::PortError:
        return "port-error";
    case JobResult::NoAnswer:
        return "no-answer";
    case JobResult::PortLost:
        return "port-lost";
    case JobResult::Interrupted:
        return "interrupted";
    }
    return "ok";
}

int mergeExitCodes(const std::vector<int> &codes) {
    return codes.empty() ? 0 : *std::max_element(codes.begin(), codes.end());
}

} // namespace quenta
