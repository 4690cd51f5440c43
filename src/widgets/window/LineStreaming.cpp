#include "widgets/window/frmSerial.h"

#include <utility>

namespace quenta {

// Sends the line the job asked for. The job sends its lines as the answers come, one answer one
// line: a click of its own sends nothing.
void frmSerial::Command5_Click() {
    if (const auto line = std::exchange(lineDue_, std::nullopt)) {
        WriteCOM32(*line);
    }
}

} // namespace quenta
