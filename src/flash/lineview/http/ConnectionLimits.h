#pragma once

#include <QHostAddress>
#include <QSslConfiguration>
#include <QTcpServer>

#include <map>
#include <optional>

namespace quenta::flash {

// The listening socket of the view, which bounds the connections a client can make it hold: at
// most kPerClient at once from one client (an IPv4 address, or an IPv6 address's /64 network, the
// block one machine is given) and kMaxConnections in all; a connection past either is closed at
// once, before anything is read from it. With a TLS configuration every connection is encrypted,
// the handshake starting once the connection is counted. A socket handed on reads at most
// kReadBufferBytes ahead of what is taken from it.
class ConnectionLimits : public QTcpServer {
    Q_OBJECT

public:
    static constexpr int kPerClient = 8;
    static constexpr int kMaxConnections = 256;
    static constexpr qint64 kReadBufferBytes = 64 * 1024;

    explicit ConnectionLimits(std::optional<QSslConfiguration> tls, QObject *parent = nullptr);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    std::optional<QSslConfiguration> tls_;
    std::map<QByteArray, int> open_; // by client
    int total_ = 0;
};

} // namespace quenta::flash
