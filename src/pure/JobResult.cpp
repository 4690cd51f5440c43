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

std::string_view resultMeaning(JobResult result) {
    switch (result) {
    case JobResult::Ok:
        return "every board done (flash: downloaded and verified)";
    case JobResult::Refused:
        return "a board answered \"ERROR\", a verify found a difference, a verify "
               "could not run undisturbed, or set-address found its address taken";
    case JobResult::WrongBoard:
        return "the bootloader's version is not the one the recipe expects: nothing was written";
    case JobResult::BadFile:
        return "usage error, or a file that is missing, unreadable, not Intel HEX, malformed, "
               "without an end record or empty, a recipe that is refused, or a used-up serial "
               "number series: nothing was sent";
    case JobResult::PortError:
        return "a port cannot be opened: missing (the ports there are are listed), no permission "
               "(with the group to join), in use (by which process)";
    case JobResult::NoAnswer:
        return "the board stayed silent through the retries, or no board answered";
    case JobResult::PortLost:
        return "the port went away and did not come back within --wait, or went away more than "
               "10 times in one job";
    case JobResult::Interrupted:
        return "stopped by signal N (130 for SIGINT, 143 for SIGTERM, 129 for SIGHUP)";
    }
    return {};
}

int mergeExitCodes(const std::vector<int> &codes) {
    return codes.empty() ? 0 : *std::max_element(codes.begin(), codes.end());
}

} // namespace quenta
