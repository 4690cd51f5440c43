#pragma once

#include "flash/frame/OptionTable.h"

namespace quenta::flash {

// The readers of the options that say how the boards are reached (see OptionReader).
QString readPorts(const OptionValue &value, const GivenOptions &given, Settings &settings);
QString readBaud(const OptionValue &value, const GivenOptions &given, Settings &settings);
QString readAddresses(const OptionValue &value, const GivenOptions &given, Settings &settings);
QString readTimeout(const OptionValue &value, const GivenOptions &given, Settings &settings);
QString readRetries(const OptionValue &value, const GivenOptions &given, Settings &settings);
QString readWait(const OptionValue &value, const GivenOptions &given, Settings &settings);
QString readVerifyPasses(const OptionValue &value, const GivenOptions &given, Settings &settings);

} // namespace quenta::flash
