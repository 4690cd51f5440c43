#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrlQuery>

#include <optional>

namespace quenta::flash {

// A request's head as the view reads it: its request line and headers. The view answers requests
// without a body; one that announces a body is refused and its connection closed, since where its
// next request would begin is not looked for.
struct HttpRequest {
    QByteArray method;
    QByteArray target; // as sent: the path with its query
    QString path;      // percent-decoded
    QUrlQuery query;
    QList<QPair<QByteArray, QByteArray>> headers; // names as sent
    bool http10 = false;
    bool announcesBody = false; // Content-Length other than 0, or Transfer-Encoding
    bool keepAlive = true;      // HTTP/1.1 without "Connection: close"
};

// Where the head at the start of `buffer` ends (after its empty line): -1 while it has not.
qsizetype headEnd(const QByteArray &buffer);

// The head, without its empty line; none when it is not an HTTP/1.0 or HTTP/1.1 request.
std::optional<HttpRequest> readHead(const QByteArray &head);

} // namespace quenta::flash
