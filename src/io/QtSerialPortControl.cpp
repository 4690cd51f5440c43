#include "io/QtSerialPortControl.h"

#include "io/ControlError.h"
#include "io/PortAccess.h"

#include <poll.h>

namespace quenta {
namespace {

// Output that makes no progress for this long is given up, and the port with it.
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

} // namespace

QtSerialPortControl::QtSerialPortControl(QObject *parent) : QObject(parent) {
    writeStall_.setSingleShot(true);
    writeStall_.setInterval(kWriteStallMs);
    connect(&writeStall_, &QTimer::timeout, this, &QtSerialPortControl::onWriteStall);
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialPortControl::onError);
    connect(&port_, &QSerialPort::bytesWritten, this, &QtSerialPortControl::onBytesWritten);
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
    setCommPort(QStringLiteral("/dev/ttyS%1").arg(number - 1));
}

void QtSerialPortControl::setCommPort(const QString &devicePath) {
    if (port_.isOpen()) {
        throw ControlError(CommError::PortAlreadyOpen, QStringLiteral("Port already open"));
    }
    chosen_ = devicePath;
}

void QtSerialPortControl::setPortOpen(bool open) {
    if (open) {
        this->open();
        return;
    }
    writeStall_.stop();
    port_.close();
    lostReason_.clear();
}

void QtSerialPortControl::open() {
    if (port_.isOpen()) {
        throw ControlError(CommError::PortAlreadyOpen, QStringLiteral("Port already open"));
    }
    if (chosen_.isEmpty()) {
        throw ControlError(CommError::InvalidPortNumber, QStringLiteral("Invalid port number"));
    }
    // The device itself, not a link to it: one device has one lock whatever name it is opened by.
    device_ = resolvePortPath(chosen_);
    port_.setPortName(device_);
    if (!port_.open(QIODevice::ReadWrite)) {
        const PortProblem problem = explainOpenFailure(
            device_, port_.errorString(), port_.error() == QSerialPort::PermissionError);
        throw ControlError(errorNumber(problem.kind), problem.reason);
    }
    applySettings();
    port_.clear(QSerialPort::AllDirections);
    port_.readAll();
    lostReason_.clear();
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
    if (!lostReason_.isEmpty()) {
        throw ControlError(CommError::PortLost, lostReason_);
    }
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
    // What the device takes now goes at once; the rest follows as the line takes it.
    port_.flush();
    if (port_.isOpen() && port_.bytesToWrite() > 0 && !writeStall_.isActive()) {
        writeStall_.start();
    }
}

void QtSerialPortControl::onBytesWritten() {
    if (port_.bytesToWrite() > 0) {
        writeStall_.start();
    } else {
        writeStall_.stop();
    }
}

void QtSerialPortControl::onWriteStall() {
    if (port_.isOpen() && port_.bytesToWrite() > 0) {
        lose(QStringLiteral("%1 took no output for %2 s.").arg(device_).arg(kWriteStallMs / 1000));
    }
}

bool QtSerialPortControl::deviceFailed() const {
    pollfd device{static_cast<int>(port_.handle()), POLLIN | POLLOUT, 0};
    return ::poll(&device, 1, 0) < 0 || (device.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void QtSerialPortControl::lose(const QString &why) {
    lostReason_ = why;
    writeStall_.stop();
    port_.close(); // what was still to be written goes with it
}

void QtSerialPortControl::onError(QSerialPort::SerialPortError error) {
    switch (error) {
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::ResourceError:
        if (!port_.isOpen() || !lostReason_.isEmpty()) {
            return;
        }
        // A read that found nothing may be reported as an error although the device is fine;
        // a device that is gone (a pulled cable, a closed terminal) is closed at once, so that
        // the port reads closed from then on and no flood of errors follows.
        if (deviceFailed() || ++healthyErrors_ >= kErrorsBeforeClose) {
            lose(QStringLiteral("%1 went away: %2.").arg(device_, port_.errorString()));
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
