#include "flash/FlashPort.h"

#include <poll.h>

namespace quenta::flash {

FlashPort::FlashPort(QString path, int baud, QObject *parent)
    : QObject(parent), path_(std::move(path)), baud_(baud) {
    connect(&port_, &QSerialPort::readyRead, this, [this] { emit received(port_.readAll()); });
    connect(&port_, &QSerialPort::errorOccurred, this, &FlashPort::onError);
}

PortProblem FlashPort::open() {
    const QString device = resolvePortPath(path_);
    port_.setPortName(device);
    if (!port_.open(QIODevice::ReadWrite)) {
        return explainOpenFailure(device, port_.errorString(),
                                  port_.error() == QSerialPort::PermissionError);
    }
    // A pseudo-terminal refuses some settings; none of them is fatal.
    port_.setBaudRate(baud_);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    port_.clear(QSerialPort::AllDirections);
    port_.clearError();
    return {};
}

void FlashPort::close() {
    port_.close();
}

void FlashPort::write(std::string_view bytes) {
    if (!port_.isOpen()) {
        return;
    }
    port_.write(bytes.data(), static_cast<qint64>(bytes.size()));
    port_.flush();
}

bool FlashPort::deviceFailed() const {
    pollfd device{static_cast<int>(port_.handle()), POLLIN | POLLOUT, 0};
    return ::poll(&device, 1, 0) < 0 || (device.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void FlashPort::onError(QSerialPort::SerialPortError error) {
    if (!port_.isOpen() || (error != QSerialPort::ReadError && error != QSerialPort::WriteError &&
                            error != QSerialPort::ResourceError)) {
        return;
    }
    // A read that found nothing can be reported although the device is fine; Qt then stops
    // reading it, so it is opened afresh. A device that is gone is reported lost.
    const QString why = port_.errorString();
    const bool failed = deviceFailed();
    port_.close();
    if (!failed && open().kind == PortProblem::Kind::None) {
        return;
    }
    emit lost(why);
}

} // namespace quenta::flash
