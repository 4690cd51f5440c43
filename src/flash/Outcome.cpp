#include "flash/Outcome.h"

#include <algorithm>

namespace quenta::flash {

int exitCode(Result result) {
    return static_cast<int>(result);
}

std::string_view resultName(Result result) {
    switch (result) {
    case Result::Ok:
        return "ok";
    case Result::Refused:
        return "refused";
    case Result::BadFile:
        return "bad-file";
    case Result::PortError:
        return "port-error";
    case Result::NoAnswer:
        return "no-answer";
    case Result::PortLost:
        return "port-lost";
    }
    return "ok";
}

int mergeExitCodes(const std::vector<int> &codes) {
    return codes.empty() ? 0 : *std::max_element(codes.begin(), codes.end());
}

} // namespace quenta::flash
