#pragma once

#include <QString>

#include <cstdint>
#include <string>
#include <string_view>

namespace quenta {

// Error numbers that a serial port control raises.
namespace CommError {
inline constexpr int InvalidPropertyValue = 380;
inline constexpr int InvalidPortNumber = 8002;
inline constexpr int PortAlreadyOpen = 8005;
inline constexpr int PortNotAvailable = 8010;
inline constexpr int PortLost = 8020;
} // namespace CommError

// The serial port as the window uses it: eight operations, nothing more. Every character is one
// byte (codes 0 to 255) both ways. Failures are raised as ControlError, whose description says
// what is wrong in words for the operator.
class SerialPortControl {
public:
    virtual ~SerialPortControl() = default;

    // "baud,parity,data bits,stop bits", e.g. "115200,n,8,1"; applies to the next open.
    virtual void setSettings(const QString &settings) = 0;
    // Selects the port for the next open: a port number (1 is the first serial port), or, on
    // this platform, the path of a device node.
    virtual void setCommPort(std::int16_t number) = 0;
    virtual void setCommPort(const QString &devicePath) = 0;
    // Opens (true) or closes (false) the selected port.
    virtual void setPortOpen(bool open) = 0;
    // False also once the device has gone away while open.
    virtual bool portOpen() const = 0;
    // Received characters waiting to be read. Raises CommError::PortLost, saying why, when the
    // device went away since it was opened.
    virtual int inBufferCount() = 0;
    // All waiting received characters, removed from the receive buffer.
    virtual std::string input() = 0;
    // Puts the characters on the line, in order, as fast as the line takes them, without waiting.
    virtual void setOutput(std::string_view text) = 0;
};

} // namespace quenta
