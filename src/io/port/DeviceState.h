#pragma once

#include <QtGlobal>

namespace quenta {

// Whether the open serial device behind `handle` has failed or gone: hung up, in error, or no
// longer a device at all.
bool deviceFailed(qintptr handle);

} // namespace quenta
