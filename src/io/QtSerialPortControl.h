#pragma once

#include "io/LineSettings.h"
#include "io/SerialPortControl.h"

#include <QObject>
#include <QSerialPort>
#include <QTimer>

namespace quenta {

// The serial port control backed by QSerialPort. Port number N is the device /dev/ttyS(N-1); a
// device path is opened as the device it leads to. A device that fails while open (a USB cable
// pulled, a pseudo-terminal closed) or a line that takes no output for 5 s is closed at once, so
// that portOpen() reads false from then on and inBufferCount() says what happened.
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

    // The port the next open will use, as it was chosen.
    QString deviceName() const { return chosen_; }

private:
    void open();
    void applySettings();
    void onError(QSerialPort::SerialPortError error);
    void onBytesWritten();
    void onWriteStall();
    bool deviceFailed() const;
    void lose(const QString &why);

    QSerialPort port_;
    LineSettings settings_;
    QString chosen_;
    QString device_;     // the device the port text led to at the last open
    QString lostReason_; // why the device was closed behind the caller's back
    QTimer writeStall_;
    int healthyErrors_ = 0;
    bool pullReads_ = false; // read notices are off: inBufferCount() reads the device itself
};

} // namespace quenta
