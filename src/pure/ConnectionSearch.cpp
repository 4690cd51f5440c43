#include "pure/ConnectionSearch.h"

namespace quenta {

ConnectionSearch::UsbTick ConnectionSearch::usbTick(bool portOpen) {
    ++ScanPort;
    const std::int16_t shown = ScanPort;
    if (portOpen) {
        ScanPort = 1;
        return {shown, UsbStep::Complete};
    }
    return {shown, ScanPort >= kUsbLimit ? UsbStep::GiveUp : UsbStep::TryOpen};
}

ConnectionSearch::ProbeTick ConnectionSearch::probeTick() {
    ProbeTick tick{ScanPort, false, std::nullopt};
    if (ScanPort >= kProbeLimit) {
        ScanPort = 1;
        tick.giveUp = true;
        return tick;
    }
    if (AddrStep == 1) {
        tick.address = ScanPort;
    }
    ++ScanPort;
    return tick;
}

} // namespace quenta
