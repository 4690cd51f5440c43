#pragma once

#include "flash/FlashOptions.h"

#include <QCommandLineParser>
#include <QString>

namespace quenta::flash {

// Reads and checks the options of the journal, the serial numbers and the log command, once the
// command is known: the mistake, if any. The journal's place is taken from --journal, else
// $QUENTA_JOURNAL, else the station's own file; the station is named after the host and the
// operator after the login unless told otherwise.
QString readRecordOptions(const QCommandLineParser &parser, Settings &settings);

} // namespace quenta::flash
