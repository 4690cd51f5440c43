#pragma once

#include <string_view>
#include <vector>

namespace quenta {

// How a board's job ended. The order is the order of severity, and each outcome but the last has
// its exit status: 0 done, 1 refused (also a board whose bootloader is not the one expected),
// 2 unusable file or usage, 3 port not opened, 4 no answer, 5 port lost. An interrupted run exits
// with 128 + the signal's number.
enum class JobResult {
    Ok,
    Refused,
    WrongBoard,
    BadFile,
    PortError,
    NoAnswer,
    PortLost,
    Interrupted
};

// Every outcome, in the enum's order.
inline constexpr JobResult kJobResults[] = {
    JobResult::Ok,        JobResult::Refused,  JobResult::WrongBoard, JobResult::BadFile,
    JobResult::PortError, JobResult::NoAnswer, JobResult::PortLost,   JobResult::Interrupted};

// The exit status of an outcome; Interrupted gives 128, to which the run adds the signal.
int exitCode(JobResult result);

// The name a report gives the outcome: "ok", "refused", "wrong-board", "bad-file", "port-error",
// "no-answer", "port-lost", "interrupted".
std::string_view resultName(JobResult result);

// What the outcome means, for the tables of exit statuses: one sentence without its period.
std::string_view resultMeaning(JobResult result);

// The exit status of a run of several boards: the highest of theirs; 0 for none.
int mergeExitCodes(const std::vector<int> &codes);

} // namespace quenta
