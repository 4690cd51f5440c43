#include "flash/Report.h"

namespace quenta::flash {

int RunReport::exit() const {
    if (!usageError.isEmpty()) {
        return exitCode(JobResult::BadFile);
    }
    std::vector<int> codes;
    for (const BoardReport &board : boards) {
        codes.push_back(exitCode(board.result));
    }
    return mergeExitCodes(codes);
}

} // namespace quenta::flash
