#include "flash/lineview/http/ConnectionLimits.h"

#include <QSslSocket>

namespace quenta::flash {
namespace {

// Whom a connection counts against: its IPv4 address (also when mapped into IPv6), or the /64
// network of its IPv6 address.
QByteArray clientOf(const QHostAddress &address) {
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    if (isIpv4) {
        return QByteArray::number(ipv4);
    }
    const Q_IPV6ADDR ipv6 = address.toIPv6Address();
    return QByteArray(reinterpret_cast<const char *>(ipv6.c), 8);
}

} // namespace

ConnectionLimits::ConnectionLimits(std::optional<QSslConfiguration> tls, QObject *parent)
    : QTcpServer(parent), tls_(std::move(tls)) {}

void ConnectionLimits::incomingConnection(qintptr descriptor) {
    QTcpSocket *socket = tls_ ? new QSslSocket(this) : new QTcpSocket(this);
    const QByteArray client =
        socket->setSocketDescriptor(descriptor) ? clientOf(socket->peerAddress()) : QByteArray();
    const auto counted = open_.find(client);
    const int itsOwn = counted != open_.end() ? counted->second : 0;
    if (client.isEmpty() || itsOwn >= kPerClient || total_ >= kMaxConnections) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    ++open_[client];
    ++total_;
    connect(socket, &QObject::destroyed, this, [this, client] {
        --total_;
        if (--open_[client] == 0) {
            open_.erase(client);
        }
    });
    socket->setReadBufferSize(kReadBufferBytes);
    if (auto *ssl = qobject_cast<QSslSocket *>(socket)) {
        ssl->setSslConfiguration(*tls_);
        ssl->startServerEncryption();
    }
    addPendingConnection(socket);
}

} // namespace quenta::flash
