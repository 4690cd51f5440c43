#include "flash/lineview/http/Connection.h"

#include <QSslSocket>
#include <QTcpSocket>

namespace quenta::flash {

Connection::Connection(QTcpSocket *socket, Answerer &answerer, QObject *parent)
    : QObject(parent), socket_(socket), answerer_(answerer) {
    socket_->setParent(this);
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        socket_->abort();
        deleteLater();
    });
    connect(socket_, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    connect(socket_, &QTcpSocket::readyRead, this, &Connection::readHeads);
    connect(socket_, &QTcpSocket::bytesWritten, this, &Connection::written);
    if (auto *ssl = qobject_cast<QSslSocket *>(socket_)) {
        connect(ssl, &QSslSocket::encryptedBytesWritten, this, &Connection::written);
    }
    deadline_.start(kHeadDeadlineMs);
    if (socket_->state() != QAbstractSocket::ConnectedState) {
        deleteLater();
    }
}

qint64 Connection::waiting() const {
    const auto *ssl = qobject_cast<const QSslSocket *>(socket_);
    return socket_->bytesToWrite() + (ssl != nullptr ? ssl->encryptedBytesToWrite() : 0);
}

void Connection::readHeads() {
    if (busy_ || closes_ || waiting() > kWriteAhead) {
        return; // read again once the answer has gone
    }
    for (;;) {
        const qsizetype end = headEnd(received_);
        if (end >= 0) {
            const QByteArray head = received_.left(end);
            received_.remove(0, end);
            begin(head);
            return;
        }
        if (received_.size() > kMaxHeadBytes) {
            refuse(431,
                   QStringLiteral("the request's head is longer than %1 bytes").arg(kMaxHeadBytes));
            return;
        }
        const QByteArray more = socket_->read(kMaxHeadBytes + 1 - received_.size());
        if (more.isEmpty()) {
            return;
        }
        received_ += more;
    }
}

void Connection::begin(const QByteArray &head) {
    busy_ = true;
    deadline_.stop();
    const auto request = readHead(head);
    if (!request) {
        refuse(400, QStringLiteral("this is not an HTTP/1.1 request"));
        return;
    }
    headOnly_ = request->method == "HEAD";
    closes_ = !request->keepAlive || request->announcesBody;
    framing_ = request->http10 ? BodyFraming::Close : BodyFraming::Chunked;
    answerer_.answer(*request, this, [this](Reply reply) { send(reply); });
}

void Connection::refuse(int status, const QString &reason) {
    busy_ = true;
    headOnly_ = false;
    closes_ = true;
    send(errorReply(status, reason));
}

void Connection::send(const Reply &reply) {
    if (socket_->state() != QAbstractSocket::ConnectedState) {
        return; // gone while the answer was made
    }
    const bool goesOn = reply.more && !headOnly_;
    if (!reply.more) {
        framing_ = BodyFraming::Length;
    }
    closes_ = closes_ || (goesOn && framing_ == BodyFraming::Close);
    QByteArray bytes = answerHead(reply, framing_, reply.body.size(), closes_);
    if (!headOnly_) {
        bytes += framing_ == BodyFraming::Chunked && !reply.body.isEmpty() ? chunk(reply.body)
                                                                           : reply.body;
    }
    socket_->write(bytes);
    deadline_.start(kStallMs);
    if (goesOn) {
        next_ = reply.more;
        askPiece();
    } else {
        finish();
    }
}

void Connection::askPiece() {
    if (!next_ || pieceAsked_ || waiting() > kWriteAhead) {
        return;
    }
    pieceAsked_ = true;
    answerer_.piece(next_, this, [this](BodyPiece piece) { takePiece(std::move(piece)); });
}

void Connection::takePiece(BodyPiece piece) {
    pieceAsked_ = false;
    if (socket_->state() != QAbstractSocket::ConnectedState) {
        return;
    }
    if (piece.failed) {
        socket_->abort(); // the client sees the body end short
        return;
    }
    next_ = std::move(piece.next);
    const bool chunked = framing_ == BodyFraming::Chunked;
    if (!piece.bytes.isEmpty()) {
        socket_->write(chunked ? chunk(piece.bytes) : piece.bytes);
    }
    if (next_) {
        askPiece();
        return;
    }
    if (chunked) {
        socket_->write(chunk({}));
    }
    finish();
}

void Connection::finish() {
    busy_ = false;
    if (closes_) {
        socket_->disconnectFromHost(); // once what was written has left
        return;
    }
    if (waiting() == 0) {
        deadline_.start(kHeadDeadlineMs);
    }
    QMetaObject::invokeMethod(this, &Connection::readHeads, Qt::QueuedConnection);
}

void Connection::written() {
    if (waiting() > 0) {
        deadline_.start(kStallMs); // the client takes its answers
    } else if (!busy_) {
        deadline_.start(kHeadDeadlineMs);
    }
    askPiece();
    if (!busy_) {
        readHeads();
    }
}

} // namespace quenta::flash
