#pragma once

#include <cstdint>
#include <optional>

namespace quenta {

// The connection timer's counters: the search for a USB port that appears once the board is
// powered, and the probing of the bootloader, which walks the bus addresses when no address was
// given.
struct ConnectionSearch {
    static constexpr std::int16_t kUsbLimit = 200;   // 198 open attempts, at counts 2 to 199
    static constexpr std::int16_t kProbeLimit = 128; // 127 probes, at counts 1 to 127

    std::int16_t ScanPort = 0; // the tick counter; while searching addresses, the next address
    std::int16_t Scanning = 0; // 1: the timer looks for the USB port; 0: it probes an open port
    std::int16_t AddrStep = 0; // 1: every probe goes to the next bus address

    enum class UsbStep { Complete, GiveUp, TryOpen };
    struct UsbTick {
        std::int16_t shown; // the count to show
        UsbStep step;
    };
    // One tick of the USB search, told whether the port is open by now. A port found open
    // completes the connection, even at the last count.
    UsbTick usbTick(bool portOpen);

    struct ProbeTick {
        std::int16_t shown;                  // the count to show
        bool giveUp = false;                 // the limit is reached: nobody answered
        std::optional<std::int16_t> address; // the address to probe, while searching addresses
    };
    // One tick of the probing; unless it gives up, the probe goes out and the count moves on.
    ProbeTick probeTick();
};

} // namespace quenta
