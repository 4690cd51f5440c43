#pragma once

#include "io/PortAccess.h"

#include <QObject>
#include <QSerialPort>

#include <string_view>

namespace quenta::flash {

// One serial port as the flasher drives it: opened as the device its path leads to (so that every
// name of a device shares one lock), written at once, read the moment bytes arrive. A device that
// fails while open (a pulled cable, a closed terminal) is closed and reported lost.
class FlashPort : public QObject {
    Q_OBJECT
public:
    FlashPort(QString path, int baud, QObject *parent = nullptr);

    // Opens the port; a problem of kind None when it is open.
    PortProblem open();
    void close();
    bool isOpen() const { return port_.isOpen(); }

    // Puts the bytes on the line without waiting for them to leave.
    void write(std::string_view bytes);

    // The path as it was given.
    const QString &path() const { return path_; }

signals:
    void received(const QByteArray &bytes);
    void lost(const QString &why);

private:
    void onError(QSerialPort::SerialPortError error);
    bool deviceFailed() const;

    QSerialPort port_;
    QString path_;
    int baud_;
};

} // namespace quenta::flash
