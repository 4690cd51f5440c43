#include "controls/QtSerialPortControl.h"

#include "controls/ControlError.h"

#include <poll.h>

namespace quenta {
namespace {

// Output that makes no progress for this long is given up.
constexpr int kWriteStallMs = 5000;
// Errors in a row on a device that still looks healthy, before it is closed all the same.
constexpr int kErrorsBeforeClose = 16;

QSerialPort::Parity toParity(char parity) {
    switch (parity) {
    case 'e':
        return QSerialPort::EvenParity;
    case 'o':
        return QSerialPort::OddParity;
    case 'm':
        return QSerialPort::MarkParity;
    case 's':
        return QSerialPort::SpaceParity;
    default:
        return QSerialPort::NoParity;
    }
}

} // namespace

QtSerialPortControl::QtSerialPortControl(QObject *parent) : QObject(parent) {
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialPortControl::onError);
}

QtSerialPortControl::~QtSerialPortControl() {
    port_.close();
}

void QtSerialPortControl::setSettings(const QString &settings) {
    const auto parsed = parseLineSettings(settings);
    if (!parsed) {
        throw ControlError(CommError::InvalidPropertyValue,
                           QStringLiteral("Invalid property value"));
    }
    settings_ = *parsed;
    if (port_.isOpen()) {
        applySettings();
    }
}

void QtSerialPortControl::setCommPort(std::int16_t number) {
    if (number < 1) {
        throw ControlError(CommError::InvalidPortNumber, QStringLiteral("Invalid port number"));
    }
    if (port_.isOpen()) {
        throw ControlError(CommError::PortAlreadyOpen, QStringLiteral("Port already open"));
    }
    port_.setPortName(QStringLiteral("/dev/ttyS%1").arg(number - 1));
    portChosen_ = true;
}

void QtSerialPortControl::setCommPort(const QString &devicePath) {
    if (port_.isOpen()) {
        throw ControlError(CommError::PortAlreadyOpen, QStringLiteral("Port already open"));
    }
    port_.setPortName(devicePath);
    portChosen_ = true;
}

void QtSerialPortControl::setPortOpen(bool open) {
    if (open) {
        this->open();
    } else {
        port_.close();
    }
}

void QtSerialPortControl::open() {
    if (port_.isOpen()) {
        throw ControlError(CommError::PortAlreadyOpen, QStringLiteral("Port already open"));
    }
    if (!portChosen_) {
        throw ControlError(CommError::InvalidPortNumber, QStringLiteral("Invalid port number"));
    }
    if (!port_.open(QIODevice::ReadWrite)) {
        const QString reason = port_.errorString();
        switch (port_.error()) {
        case QSerialPort::DeviceNotFoundError:
            throw ControlError(CommError::InvalidPortNumber,
                               QStringLiteral("Invalid port number: %1").arg(reason));
        case QSerialPort::PermissionError:
            throw ControlError(
                CommError::PortAlreadyOpen,
                QStringLiteral("Port already open or not permitted: %1").arg(reason));
        default:
            throw ControlError(CommError::PortNotAvailable,
                               QStringLiteral("The port is not available: %1").arg(reason));
        }
    }
    applySettings();
    port_.clear(QSerialPort::AllDirections);
    port_.readAll();
    healthyErrors_ = 0;
    pullReads_ = false;
}

void QtSerialPortControl::applySettings() {
    // A pseudo-terminal refuses some of these; they are never fatal.
    port_.setBaudRate(settings_.baud);
    port_.setParity(toParity(settings_.parity));
    port_.setDataBits(static_cast<QSerialPort::DataBits>(settings_.dataBits));
    port_.setStopBits(settings_.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
}

bool QtSerialPortControl::portOpen() const {
    return port_.isOpen();
}

int QtSerialPortControl::inBufferCount() {
    if (!port_.isOpen()) {
        return 0;
    }
    if (pullReads_ && port_.bytesAvailable() == 0) {
        // Read notices stopped after a false alarm: take in what waits in the device directly.
        port_.waitForReadyRead(0);
    }
    return port_.isOpen() ? static_cast<int>(port_.bytesAvailable()) : 0;
}

std::string QtSerialPortControl::input() {
    if (!port_.isOpen()) {
        return {};
    }
    const QByteArray data = port_.readAll();
    if (!data.isEmpty()) {
        healthyErrors_ = 0;
    }
    return data.toStdString();
}

void QtSerialPortControl::setOutput(std::string_view text) {
    if (!port_.isOpen()) {
        return;
    }
    port_.write(text.data(), static_cast<qint64>(text.size()));
    // A command fits the device's buffer at once; only what does not fit is waited for, as long
    // as the line takes the bytes: give up only when it stops taking them.
    port_.flush();
    while (port_.isOpen() && port_.bytesToWrite() > 0) {
        const qint64 before = port_.bytesToWrite();
        if (!port_.waitForBytesWritten(kWriteStallMs) && port_.bytesToWrite() >= before) {
            if (port_.isOpen()) {
                port_.clear(QSerialPort::Output);
            }
            throw ControlError(CommError::PortNotAvailable,
                               QStringLiteral("The port takes no more output"));
        }
    }
}

bool QtSerialPortControl::deviceFailed() const {
    pollfd device{static_cast<int>(port_.handle()), POLLIN | POLLOUT, 0};
    return ::poll(&device, 1, 0) < 0 || (device.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void QtSerialPortControl::onError(QSerialPort::SerialPortError error) {
    switch (error) {
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::ResourceError:
        if (!port_.isOpen()) {
            return;
        }
        // A read that found nothing may be reported as an error although the device is fine;
        // a device that is gone (a pulled cable, a closed terminal) is closed at once, so that
        // the port reads closed from then on and no flood of errors follows.
        if (deviceFailed() || ++healthyErrors_ >= kErrorsBeforeClose) {
            port_.close();
        } else {
            pullReads_ = pullReads_ || error == QSerialPort::ResourceError;
            port_.clearError();
        }
        break;
    default:
        break;
    }
}

} // namespace quenta
