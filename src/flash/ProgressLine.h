#pragma once

#include "pure/BoardEngine.h"

#include <QString>

#include <cstddef>

namespace quenta::flash {

// Where one board's job stands.
struct ProgressState {
    QString board; // the port, with the address on a Modbus bus
    Pass pass = Pass::Download;
    bool verifyAlone = false; // no download pass: the verify is the whole job
    std::size_t done = 0;     // lines answered in this pass
    std::size_t total = 0;    // lines in the file
    double seconds = 0.0;     // since this pass began
};

// "PORT  download  120/1203   9%  215 lines/s  0:11 left": the pass, the lines done of the total,
// the percent of the pass, the pace of this pass and the time the rest of the job takes at it.
QString progressLine(const ProgressState &state);

} // namespace quenta::flash
