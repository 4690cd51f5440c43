#pragma once

// What a serial test function works with: pseudo-terminals, controls on them, and the checks the
// tests share. Everything is owned here so that cleanup() closes every port, whatever the test
// left behind; a second open of a device still held would fail in the next test.

#include "PtyPair.h"

#include "controls/ControlError.h"
#include "controls/QtSerialPortControl.h"

#include <QTest>

#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace quenta::testing {

// The error an action raised, if it raised one. Anything other than a ControlError escapes and
// fails the test.
template <typename Action> std::optional<ControlError> raised(Action &&action) {
    try {
        action();
    } catch (const ControlError &error) {
        return error;
    }
    return std::nullopt;
}

class SerialBench {
public:
    PtyPair &newPty() {
        ptys_.push_back(std::make_unique<PtyPair>());
        return *ptys_.back();
    }

    QtSerialPortControl &newControl() {
        controls_.push_back(std::make_unique<QtSerialPortControl>());
        return *controls_.back();
    }

    // Closes every port, then lets go of the controls and only then of the devices.
    void closeAll() {
        for (const auto &control : controls_) {
            try {
                control->setPortOpen(false);
            } catch (const ControlError &) {
                // The port is released below with the control itself.
            }
        }
        controls_.clear();
        ptys_.clear();
    }

private:
    std::vector<std::unique_ptr<PtyPair>> ptys_;
    std::vector<std::unique_ptr<QtSerialPortControl>> controls_;
};

// Selects the device and opens it; the test fails if either raises.
inline void openOn(QtSerialPortControl &control, const PtyPair &pty) {
    QVERIFY(pty.isValid());
    QVERIFY_THROWS_NO_EXCEPTION(control.setCommPort(pty.path()));
    QVERIFY_THROWS_NO_EXCEPTION(control.setPortOpen(true));
    QVERIFY(control.portOpen());
}

// The control and the board on this device exchange a few bytes each way: proof that the
// control really holds this device open and that the line works.
inline void exchange(QtSerialPortControl &control, const PtyPair &pty) {
    const std::string_view ping = "ping\r";
    control.setOutput(ping);
    QCOMPARE(asBytes(pty.receive(ping.size())), asBytes(ping));

    const std::string_view pong = "pong\r";
    QVERIFY(pty.send(pong));
    QTRY_COMPARE_WITH_TIMEOUT(control.inBufferCount(), static_cast<int>(pong.size()),
                              kEventGuardMs);
    QCOMPARE(asBytes(control.input()), asBytes(pong));
    QCOMPARE(control.inBufferCount(), 0);
}

} // namespace quenta::testing

// Stop the calling test function when a shared check failed.
#define SERIAL_CHECK(call)                                                                         \
    do {                                                                                           \
        call;                                                                                      \
        if (QTest::currentTestFailed()) {                                                          \
            return;                                                                                \
        }                                                                                          \
    } while (false)
