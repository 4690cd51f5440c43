#pragma once

#include "controls/LineSettings.h"
#include "controls/SerialPortControl.h"

#include <QObject>
#include <QSerialPort>

namespace quenta {

// The serial port control backed by QSerialPort. Port number N is the device /dev/ttyS(N-1); a
// device path is opened as it stands. A device that fails while open (a USB cable pulled, a
// pseudo-terminal closed) is closed at once, so that portOpen() reads false from then on.
class QtSerialPortControl : public QObject, public SerialPortControl {
    Q_OBJECT
public:
    explicit QtSerialPortControl(QObject *parent = nullptr);
    ~QtSerialPortControl() override;

    void setSettings(const QString &settings) override;
    void setCommPort(std::int16_t number) override;
    void setCommPort(const QString &devicePath) override;
    void setPortOpen(bool open) override;
    bool portOpen() const override;
    int inBufferCount() override;
    std::string input() override;
    void setOutput(std::string_view text) override;

    // The device the next open will use.
    QString deviceName() const { return port_.portName(); }

private:
    void open();
    void applySettings();
    void onError(QSerialPort::SerialPortError error);
    bool deviceFailed() const;

    QSerialPort port_;
    LineSettings settings_;
    bool portChosen_ = false;
    int healthyErrors_ = 0;
    bool pullReads_ = false; // read notices are off: inBufferCount() reads the device itself
};

} // namespace quenta
