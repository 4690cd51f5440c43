#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace quenta::flash {

// The two passes of a firmware job.
enum class Pass { Download, Verify };

// Where a pass goes on after the port came back: first the extended address record that places
// the records from `from` on (none when they need none), then the records from `from` to the end.
struct ResumePoint {
    std::optional<std::size_t> addressRecord;
    std::size_t from = 0;
};

// A download goes back this many records before the first unanswered one: a board may lose
// records it acknowledged but had not yet written.
inline constexpr std::size_t kDownloadBackoff = 8;

// The resume point of a pass over `records` (HEX records, indices from 0) whose record
// `firstUnanswered` got no answer before the port went away. A download goes back
// kDownloadBackoff records; a verify goes on at the unanswered record. A board that comes back
// has forgotten its extended address, so the last address record (type 02 or 04) before `from`
// goes first.
ResumePoint resumePoint(const std::vector<std::string> &records, std::size_t firstUnanswered,
                        Pass pass);

} // namespace quenta::flash
