#pragma once

#include "flash/lineview/http/Answerer.h"
#include "flash/lineview/http/HttpWire.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

class QTcpSocket;

namespace quenta::flash {

// One client's connection. It reads one request's head at a time, has it answered and hands the
// answer to the socket before it reads the next, so that answers leave in the order asked. What it
// holds stays bounded whatever the client sends: at most kMaxHeadBytes of a head (a longer one is
// refused), and while more than kWriteAhead bytes of answers wait for the client to take them,
// nothing more is read, so that further requests wait in the network's buffers; a body made in
// pieces is asked for a piece only while less than kWriteAhead waits. A head must come whole
// within kHeadDeadlineMs of the connection opening or of its last answer leaving, and a client that
// takes nothing of a waiting answer for kStallMs is cut off. A request that says
// "Connection: close", one of HTTP/1.0, and one whose head cannot be read are answered and the
// connection then closed. The connection deletes itself with its socket.
class Connection : public QObject {
    Q_OBJECT

public:
    static constexpr qsizetype kMaxHeadBytes = 32 * 1024;
    static constexpr qint64 kWriteAhead = 256 * 1024;
    static constexpr int kHeadDeadlineMs = 10000;
    static constexpr int kStallMs = 30000;

    // Takes the socket as its child.
    Connection(QTcpSocket *socket, Answerer &answerer, QObject *parent = nullptr);

private:
    void readHeads();
    void begin(const QByteArray &head);
    void refuse(int status, const QString &reason);
    void send(const Reply &reply);
    void askPiece();
    void takePiece(BodyPiece piece);
    void finish();
    void written();
    qint64 waiting() const;

    QTcpSocket *socket_;
    Answerer &answerer_;
    QByteArray received_;
    QTimer deadline_;
    bool busy_ = false;     // a request is being answered
    bool headOnly_ = false; // ... by its head alone (HEAD)
    bool closes_ = false;   // ... and the connection closes after it
    BodyFraming framing_ = BodyFraming::Length;
    std::function<BodyPiece(JournalKeeper &)> next_; // what makes the body's next piece
    bool pieceAsked_ = false;
};

} // namespace quenta::flash
