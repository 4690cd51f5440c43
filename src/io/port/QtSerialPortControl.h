#pragma once

#include "io/port/LineSettings.h"
#include "io/port/SerialPort.h"
#include "io/port/SerialPortControl.h"

#include <QByteArray>

#include <memory>

namespace quenta {

// The serial port control backed by SerialPort. Port number N is the device /dev/ttyS(N-1); a
// device path is opened as the device it leads to. A device that fails while open (a USB cable
// pulled, a pseudo-terminal closed) or a line that takes no output for 5 s is closed at once, so
// that portOpen() reads false from then on and inBufferCount() says what happened. Received bytes
// wait here until input() takes them; inBufferCount() also takes in what waits in the device.
class QtSerialPortControl : public SerialPortControl {
public:
    QtSerialPortControl();
    ~QtSerialPortControl() override;

    void setSettings(const QString &settings) override;
    void setCommPort(std::int16_t number) override;
    void setCommPort(const QString &devicePath) override;
    void setPortOpen(bool open) override;
    bool portOpen() const override;
    int inBufferCount() override;
    std::string input() override;
    void setOutput(std::string_view text) override;

    // The port the next open will use, as it was chosen.
    QString deviceName() const { return chosen_; }

private:
    void open();

    LineSettings settings_;
    QString chosen_;
    QByteArray received_;
    QString lostReason_;               // why the device was closed behind the caller's back
    std::unique_ptr<SerialPort> port_; // the port of the last open, gone before what it fills
};

} // namespace quenta
