#pragma once

#include <string_view>
#include <vector>

namespace quenta::flash {

// How a board's job ended. Each outcome has its exit status; the order is the order of severity.
enum class Result { Ok, Refused, BadFile, PortError, NoAnswer, PortLost };

// 0 done, 1 refused, 2 unusable file, 3 port not opened, 4 no answer, 5 port lost.
int exitCode(Result result);

// The name a report gives the outcome: "ok", "refused", "bad-file", "port-error", "no-answer",
// "port-lost".
std::string_view resultName(Result result);

// The exit status of a run of several boards: the highest of theirs; 0 for none.
int mergeExitCodes(const std::vector<int> &codes);

} // namespace quenta::flash
