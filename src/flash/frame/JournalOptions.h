#pragma once

#include "flash/frame/OptionTable.h"

namespace quenta::flash {

// The readers of the options of the journal, the serial numbers and the log command (see
// OptionReader). The journal's place is taken from --journal, else $QUENTA_JOURNAL, else the
// station's own file; the station is named after the host and the operator after the login unless
// told otherwise.
QString readJournal(const OptionValue &value, const GivenOptions &given, Settings &settings);
QString readNoJournal(const OptionValue &value, const GivenOptions &given, Settings &settings);
QString readStation(const OptionValue &value, const GivenOptions &given, Settings &settings);
QString readOperator(const OptionValue &value, const GivenOptions &given, Settings &settings);
QString readSerialAt(const OptionValue &value, const GivenOptions &given, Settings &settings);
QString readSerialStart(const OptionValue &value, const GivenOptions &given, Settings &settings);
QString readSerialBytes(const OptionValue &value, const GivenOptions &given, Settings &settings);
QString readSerialFormat(const OptionValue &value, const GivenOptions &given, Settings &settings);
QString readSerialSeries(const OptionValue &value, const GivenOptions &given, Settings &settings);
QString readSince(const OptionValue &value, const GivenOptions &given, Settings &settings);
QString readResult(const OptionValue &value, const GivenOptions &given, Settings &settings);
QString readSerialWanted(const OptionValue &value, const GivenOptions &given, Settings &settings);
QString readFirmware(const OptionValue &value, const GivenOptions &given, Settings &settings);
QString readLimit(const OptionValue &value, const GivenOptions &given, Settings &settings);
QString readCsv(const OptionValue &value, const GivenOptions &given, Settings &settings);

// Checks the serial numbers' options together, once all are read: the mistake, if any.
QString checkSerialStamp(const Settings &settings);

// The results a job can be listed by: "running", then each outcome's name, blank-separated.
QString knownResults();

} // namespace quenta::flash
