#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace quenta::flash {

// An answer of the view, before the headers every answer carries.
struct Reply {
    int status = 200;
    QByteArray contentType;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers; // further ones
};

// {"error": reason} with the status.
Reply errorReply(int status, const QString &reason);

} // namespace quenta::flash
