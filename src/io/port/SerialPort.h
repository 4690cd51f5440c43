#pragma once

#include "io/port/LineSettings.h"
#include "io/port/PortAccess.h"

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>

#include <optional>
#include <string_view>

namespace quenta {

// One serial port, driven by events: opened as the device its path leads to (so that every name
// of a device shares one lock), written at once without blocking, read the moment bytes arrive.
// While it is open the driver is asked to pass on received bytes without delay. A device that
// fails while open (a pulled cable, a closed terminal) or a line that takes no output for 5 s is
// closed and reported lost, in words for people; a false alarm from a healthy device is cleared
// and the device read on.
class SerialPort : public QObject {
    Q_OBJECT
public:
    SerialPort(QString path, int baud, QObject *parent = nullptr);
    ~SerialPort() override;

    // Opens the port, dropping input that waited; a problem of kind None when it is open.
    PortProblem open();
    void close();
    bool isOpen() const { return port_->isOpen(); }

    // Puts the bytes on the line at once; what the driver does not take yet follows as it does.
    void write(std::string_view bytes);

    // The path as it was given.
    const QString &path() const { return path_; }
    // The device the path leads to: the one opened, once open() has run.
    QString device() const;

    // The line's speed and framing (8N1 at the given speed unless set), applied at once when
    // open. A framing the device refuses (a pseudo-terminal refuses some) is never fatal.
    void setLine(const LineSettings &line);

    // Takes in at once what waits in the device, for a caller that polls between events.
    void readWaiting();

signals:
    void received(const QByteArray &bytes);
    void lost(const QString &why);

private:
    void shut();
    void applyLine();
    void onReadyRead();
    void onBytesWritten();
    void onError(QSerialPort::SerialPortError error);
    void recover();
    void onStall();
    void lose(const QString &why);

    QSerialPort *port_; // a child: the device as Qt opens it
    QString path_;
    QString device_;
    LineSettings line_;
    QTimer stall_;
    std::optional<int> savedFlags_; // the driver's flags before low latency was asked
    QString failure_;               // the system's words for the error being looked into
    bool recovering_ = false;       // an error waits to be looked into
    int falseAlarms_ = 0;           // errors in a row on a device that looked healthy
};

} // namespace quenta
