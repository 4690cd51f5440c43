#include "pure/engine/Task.h"

namespace quenta {

void merge(Step &into, Step &&from) {
    for (std::string &bytes : from.send) {
        into.send.push_back(std::move(bytes));
    }
    if (from.timerMs) {
        into.timerMs = from.timerMs;
    }
    into.awaitPort = into.awaitPort || from.awaitPort;
    if (from.end) {
        into.end = std::move(from.end);
    }
}

Step timerStep(int ms) {
    Step step;
    step.timerMs = ms;
    return step;
}

} // namespace quenta
