#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace quenta {

// Where a download goes on after the port came back: first the extended address record that
// places the records from `from` on (none when they need none), then the records from `from` on.
struct ResumePoint {
    std::optional<std::size_t> addressRecord;
    std::size_t from = 0;
};

// A download goes back this many data records before the first unanswered one: a board may lose
// records it acknowledged but had not yet written.
inline constexpr std::size_t kDownloadBackoff = 8;

// The resume point of a download of `records` (HEX records, indices from 0) whose record
// `firstUnanswered` got no answer before the port went away: kDownloadBackoff data records back,
// address records not counted. A board that comes back has forgotten its extended address, so the
// last address record (type 02 or 04) before `from` goes first.
ResumePoint resumePoint(const std::vector<std::string> &records, std::size_t firstUnanswered);

} // namespace quenta
