#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <functional>

namespace quenta::flash {

class JournalKeeper;

// A piece of a body made as the client takes it, and what makes the next piece: none after the
// last. A piece that failed ends the answer short (the connection is closed).
struct BodyPiece {
    QByteArray bytes;
    std::function<BodyPiece(JournalKeeper &)> next;
    bool failed = false;
};

// An answer of the view, before the headers every answer carries.
struct Reply {
    int status = 200;
    QByteArray contentType;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers; // further ones
    // Set when the body goes on after `body`, made piece by piece on the journal's thread: the
    // answer is then sent in chunks, without a length.
    std::function<BodyPiece(JournalKeeper &)> more;
};

// {"error": reason} with the status.
Reply errorReply(int status, const QString &reason);

} // namespace quenta::flash
