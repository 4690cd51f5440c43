#include "flash/serve/ConnectionLimits.h"

#include <QTcpSocket>
#include <QTimer>

namespace quenta::flash {
namespace {

constexpr char kWindowTimer[] = "quentaRequestWindow";

} // namespace

ConnectionLimits::ConnectionLimits(QObject *parent) : QTcpServer(parent) {
    setMaxPendingConnections(kMaxConnections);
}

void ConnectionLimits::answered(QTcpSocket *socket) {
    if (auto *window = socket->findChild<QTimer *>(QLatin1String(kWindowTimer))) {
        window->start();
    }
}

void ConnectionLimits::incomingConnection(qintptr descriptor) {
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor) || open_ >= kMaxConnections) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    ++open_;
    connect(socket, &QObject::destroyed, this, [this] { --open_; });
    socket->setReadBufferSize(kMaxRequestBytes);
    auto *window = new QTimer(socket);
    window->setObjectName(QLatin1String(kWindowTimer));
    window->setSingleShot(true);
    window->setInterval(kRequestWindowMs);
    connect(window, &QTimer::timeout, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    window->start();
    addPendingConnection(socket);
}

} // namespace quenta::flash
