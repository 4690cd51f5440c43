#pragma once

#include "flash/frame/Firmware.h"
#include "flash/frame/Recipe.h"
#include "flash/frame/Report.h"
#include "flash/frame/Settings.h"

#include <functional>
#include <string_view>
#include <vector>

namespace quenta::flash {

// The firmware a recipe pins: as loaded, or refused when its SHA-256 is not the recipe's (nothing
// is sent then).
Firmware pinnedFirmware(Firmware firmware, const Recipe &recipe);

// Whether a bootloader's VER= text (without surrounding blanks) is the one the recipe's board
// version pattern asks for, the whole text matching.
std::function<bool(std::string_view)> acceptsVersion(const QString &pattern);

// The check of a recipe without a board: the firmware is there and is the one pinned, the journal
// opens, and the series of its serial numbers is there or will be made. Each finding names the
// recipe as its port; the exit status of the worst is in `exit` (2 for the firmware, 6 for the
// journal, 0 when all is well).
std::vector<CheckEntry> checkRecipe(const Settings &settings, const Firmware &firmware, int &exit);

} // namespace quenta::flash
