#include "io/port/SerialPort.h"

#include "io/port/DeviceState.h"
#include "io/port/LowLatency.h"

#include <cerrno>
#include <utility>

namespace quenta {
namespace {

// Output that makes no progress for this long is given up, and the port with it.
constexpr int kWriteStallMs = 5000;
// False alarms in a row, with nothing received or sent between them, before the port is given up.
constexpr int kFalseAlarmsBeforeLoss = 16;

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

bool isTransferError(QSerialPort::SerialPortError error) {
    return error == QSerialPort::ReadError || error == QSerialPort::WriteError ||
           error == QSerialPort::ResourceError;
}

// What the system says when a device is gone or a read found nothing ("Input/output error",
// "Inappropriate ioctl for device"...) tells people nothing more than that the device failed.
bool addsNothing(const QString &systemText) {
    for (const int code : {EIO, ENOTTY, EAGAIN, EBADF, ENXIO, ENODEV, EPIPE}) {
        if (systemText == qt_error_string(code)) {
            return true;
        }
    }
    return systemText.isEmpty() || systemText == QLatin1String("Unknown error") ||
           systemText == QLatin1String("No error");
}

// A sentence about the device, with the system's words where they say something more.
QString sentence(const QString &statement, const QString &systemText) {
    return addsNothing(systemText) ? statement + QLatin1Char('.')
                                   : QStringLiteral("%1: %2.").arg(statement, systemText);
}

} // namespace

SerialPort::SerialPort(QString path, int baud, QObject *parent)
    : QObject(parent), port_(new QSerialPort(this)), path_(std::move(path)) {
    line_.baud = baud;
    stall_.setSingleShot(true);
    stall_.setInterval(kWriteStallMs);
    connect(&stall_, &QTimer::timeout, this, &SerialPort::onStall);
    connect(port_, &QSerialPort::readyRead, this, &SerialPort::onReadyRead);
    connect(port_, &QSerialPort::bytesWritten, this, &SerialPort::onBytesWritten);
    connect(port_, &QSerialPort::errorOccurred, this, &SerialPort::onError);
}

SerialPort::~SerialPort() {
    close();
}

QString SerialPort::device() const {
    return device_.isEmpty() ? resolvePortPath(path_) : device_;
}

PortProblem SerialPort::open() {
    if (port_->isOpen()) {
        return {};
    }
    recovering_ = false;
    falseAlarms_ = 0;
    device_ = resolvePortPath(path_);
    port_->setPortName(device_);
    if (!port_->open(QIODevice::ReadWrite)) {
        return explainOpenFailure(device_, port_->errorString(),
                                  port_->error() == QSerialPort::PermissionError, path_);
    }
    applyLine();
    savedFlags_ = requestLowLatency(static_cast<int>(port_->handle()));
    port_->clear(QSerialPort::AllDirections);
    port_->clearError();
    return {};
}

void SerialPort::close() {
    recovering_ = false;
    stall_.stop();
    shut();
}

// Closes the device, giving the driver back the flags it had.
void SerialPort::shut() {
    if (savedFlags_ && port_->isOpen()) {
        restoreSerialFlags(static_cast<int>(port_->handle()), *savedFlags_);
    }
    savedFlags_.reset();
    port_->close();
}

void SerialPort::setLine(const LineSettings &line) {
    line_ = line;
    if (port_->isOpen()) {
        applyLine();
        port_->clearError();
    }
}

void SerialPort::applyLine() {
    port_->setBaudRate(line_.baud);
    port_->setParity(toParity(line_.parity));
    port_->setDataBits(static_cast<QSerialPort::DataBits>(line_.dataBits));
    port_->setStopBits(line_.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    port_->setFlowControl(QSerialPort::NoFlowControl);
}

void SerialPort::write(std::string_view bytes) {
    if (!port_->isOpen() || bytes.empty()) {
        return;
    }
    port_->write(bytes.data(), static_cast<qint64>(bytes.size()));
    port_->flush();
    if (port_->isOpen() && port_->bytesToWrite() > 0 && !stall_.isActive()) {
        stall_.start();
    }
}

void SerialPort::readWaiting() {
    if (port_->isOpen() && port_->bytesAvailable() == 0) {
        port_->waitForReadyRead(0);
    }
}

void SerialPort::onReadyRead() {
    const QByteArray bytes = port_->readAll();
    if (!bytes.isEmpty()) {
        falseAlarms_ = 0;
        emit received(bytes);
    }
}

void SerialPort::onBytesWritten() {
    falseAlarms_ = 0;
    if (port_->bytesToWrite() > 0) {
        stall_.start();
    } else {
        stall_.stop();
    }
}

void SerialPort::onStall() {
    if (port_->isOpen() && port_->bytesToWrite() > 0) {
        lose(QStringLiteral("%1 took no output for %2 s.").arg(device_).arg(kWriteStallMs / 1000));
    }
}

void SerialPort::onError(QSerialPort::SerialPortError error) {
    if (!port_->isOpen() || !isTransferError(error) || recovering_) {
        return;
    }
    // Looked into once the port's own handling is over, never from inside it.
    recovering_ = true;
    failure_ = port_->errorString();
    QMetaObject::invokeMethod(this, &SerialPort::recover, Qt::QueuedConnection);
}

// A read that found nothing can be reported as an error although the device is fine: the error is
// cleared and the port read on, as a serial control always did. The port is never closed here,
// which would drop what waits in the device and the lines a board watches (some boards reset when
// DTR drops). A device that is gone, or that keeps failing, is reported lost.
void SerialPort::recover() {
    if (!std::exchange(recovering_, false) || !port_->isOpen()) {
        return;
    }
    if (deviceFailed(port_->handle())) {
        lose(sentence(QStringLiteral("%1 went away").arg(device_), failure_));
        return;
    }
    if (++falseAlarms_ >= kFalseAlarmsBeforeLoss) {
        lose(sentence(QStringLiteral("%1 keeps failing").arg(device_), failure_));
        return;
    }
    port_->clearError();
    readWaiting();
    onReadyRead();
}

void SerialPort::lose(const QString &why) {
    close(); // what was still to be written goes with it
    emit lost(why);
}

} // namespace quenta
