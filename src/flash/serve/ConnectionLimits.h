#pragma once

#include <QTcpServer>

class QTcpSocket;

namespace quenta::flash {

// The listening socket of the view, which bounds what a client can make it hold: at most
// kMaxConnections at once (more are closed at once), at most kMaxRequestBytes of a request read
// before it is answered (a larger one is not read further), and a connection that brings no
// complete request within kRequestWindowMs of opening or of its last answer is closed.
class ConnectionLimits : public QTcpServer {
    Q_OBJECT

public:
    static constexpr int kMaxConnections = 32;
    static constexpr qint64 kMaxRequestBytes = 32 * 1024;
    static constexpr int kRequestWindowMs = 10000;

    explicit ConnectionLimits(QObject *parent = nullptr);

    // The connection's request was answered: its window starts again.
    static void answered(QTcpSocket *socket);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    int open_ = 0;
};

} // namespace quenta::flash
