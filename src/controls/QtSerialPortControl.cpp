#include "controls/QtSerialPortControl.h"

#include "controls/ControlError.h"

namespace quenta {
namespace {

constexpr int kWriteTimeoutMs = 2000;

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
    return static_cast<int>(port_.bytesAvailable());
}

std::string QtSerialPortControl::input() {
    if (!port_.isOpen()) {
        return {};
    }
    const QByteArray data = port_.readAll();
    return data.toStdString();
}

void QtSerialPortControl::setOutput(std::string_view text) {
    if (!port_.isOpen()) {
        return;
    }
    port_.write(text.data(), static_cast<qint64>(text.size()));
    while (port_.isOpen() && port_.bytesToWrite() > 0) {
        if (!port_.waitForBytesWritten(kWriteTimeoutMs)) {
            break;
        }
    }
}

void QtSerialPortControl::onError(QSerialPort::SerialPortError error) {
    switch (error) {
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::ResourceError:
        if (port_.isOpen()) {
            port_.close();
        }
        break;
    default:
        break;
    }
}

} // namespace quenta
