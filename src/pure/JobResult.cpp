#include "pure/JobResult.h"

#include <algorithm>

namespace quenta {

int exitCode(JobResult result) {
    switch (result) {
    case JobResult::Ok:
        return 0;
    case JobResult::Refused:
    case JobResult::WrongBoard:
        return 1;
    case JobResult::BadFile:
        return 2;
    case JobResult::PortError:
        return 3;
    case JobResult::NoAnswer:
        return 4;
    case JobResult::PortLost:
        return 5;
    case JobResult::Interrupted:
        return 128;
    }
    return 1;
}

std::string_view resultName(JobResult result) {
    switch (result) {
    case JobResult::Ok:
        return "ok";
    case JobResult::Refused:
        return "refused";
    case JobResult::WrongBoard:
        return "wrong-board";
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
