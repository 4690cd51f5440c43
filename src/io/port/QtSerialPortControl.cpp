#include "io/port/QtSerialPortControl.h"

#include "io/port/ControlError.h"
#include "io/port/PortPath.h"

#include <optional>
#include <utility>

namespace quenta {
namespace {

int errorNumber(PortProblem::Kind kind) {
    switch (kind) {
    case PortProblem::Kind::Missing:
        return CommError::InvalidPortNumber;
    case PortProblem::Kind::Busy:
        return CommError::PortAlreadyOpen;
    default:
        return CommError::PortNotAvailable;
    }
}

ControlError alreadyOpen() {
    return ControlError(CommError::PortAlreadyOpen, QStringLiteral("Port already open"));
}

ControlError invalidPortNumber() {
    return ControlError(CommError::InvalidPortNumber, QStringLiteral("Invalid port number"));
}

} // namespace

QtSerialPortControl::QtSerialPortControl() = default;
QtSerialPortControl::~QtSerialPortControl() = default;

void QtSerialPortControl::setSettings(const QString &settings) {
    const auto parsed = parseLineSettings(settings);
    if (!parsed) {
        throw ControlError(CommError::InvalidPropertyValue,
                           QStringLiteral("Invalid property value"));
    }
    settings_ = *parsed;
    if (port_) {
        port_->setLine(settings_);
    }
}

void QtSerialPortControl::setCommPort(std::int16_t number) {
    const auto path = number >= 1 ? portPathFor(QStringLiteral("COM%1").arg(number)) : std::nullopt;
    if (!path) {
        throw invalidPortNumber();
    }
    setCommPort(*path);
}

void QtSerialPortControl::setCommPort(const QString &devicePath) {
    if (portOpen()) {
        throw alreadyOpen();
    }
    chosen_ = devicePath;
}

void QtSerialPortControl::setPortOpen(bool open) {
    if (open) {
        this->open();
        return;
    }
    port_.reset();
    lostReason_.clear();
}

void QtSerialPortControl::open() {
    if (portOpen()) {
        throw alreadyOpen();
    }
    if (chosen_.isEmpty()) {
        throw invalidPortNumber();
    }
    auto port = std::make_unique<SerialPort>(chosen_, settings_.baud);
    port->setLine(settings_);
    const PortProblem problem = port->open();
    if (problem.kind != PortProblem::Kind::None) {
        throw ControlError(errorNumber(problem.kind), problem.reason);
    }
    QObject::connect(port.get(), &SerialPort::received,
                     [this](const QByteArray &bytes) { received_.append(bytes); });
    QObject::connect(port.get(), &SerialPort::lost,
                     [this](const QString &why) { lostReason_ = why; });
    port_ = std::move(port);
    received_.clear();
    lostReason_.clear();
}

bool QtSerialPortControl::portOpen() const {
    return port_ && port_->isOpen();
}

int QtSerialPortControl::inBufferCount() {
    if (!lostReason_.isEmpty()) {
        throw ControlError(CommError::PortLost, lostReason_);
    }
    if (portOpen() && received_.isEmpty()) {
        port_->readWaiting();
    }
    return portOpen() ? static_cast<int>(received_.size()) : 0;
}

std::string QtSerialPortControl::input() {
    if (!portOpen()) {
        return {};
    }
    return std::exchange(received_, {}).toStdString();
}

void QtSerialPortControl::setOutput(std::string_view text) {
    if (portOpen()) {
        port_->write(text);
    }
}

} // namespace quenta
