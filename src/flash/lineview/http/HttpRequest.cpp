#include "flash/lineview/http/HttpRequest.h"

#include <QUrl>

namespace quenta::flash {
namespace {

bool isToken(const QByteArray &text) {
    if (text.isEmpty()) {
        return false;
    }
    for (const char c : text) {
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        const bool digit = c >= '0' && c <= '9';
        if (!letter && !digit && QByteArrayView("!#$%&'*+-.^_`|~").indexOf(c) < 0) {
            return false;
        }
    }
    return true;
}

// Whether a comma-separated header value holds `token`, in any case.
bool listsToken(const QByteArray &value, const QByteArray &token) {
    for (const QByteArray &each : value.split(',')) {
        if (each.trimmed().toLower() == token) {
            return true;
        }
    }
    return false;
}

} // namespace

qsizetype headEnd(const QByteArray &buffer) {
    const qsizetype crlf = buffer.indexOf("\r\n\r\n");
    const qsizetype lf = buffer.indexOf("\n\n");
    if (crlf >= 0 && (lf < 0 || crlf < lf)) {
        return crlf + 4;
    }
    return lf >= 0 ? lf + 2 : -1;
}

std::optional<HttpRequest> readHead(const QByteArray &head) {
    QList<QByteArray> lines = head.split('\n');
    for (QByteArray &line : lines) {
        if (line.endsWith('\r')) {
            line.chop(1);
        }
    }
    while (!lines.isEmpty() && lines.front().isEmpty()) {
        lines.removeFirst(); // empty lines ahead of a request are allowed
    }
    while (!lines.isEmpty() && lines.back().isEmpty()) {
        lines.removeLast();
    }
    if (lines.isEmpty()) {
        return std::nullopt;
    }
    const QList<QByteArray> start = lines.front().split(' ');
    if (start.size() != 3 || !isToken(start[0]) || !start[1].startsWith('/') ||
        (start[2] != "HTTP/1.1" && start[2] != "HTTP/1.0")) {
        return std::nullopt;
    }
    HttpRequest request;
    request.method = start[0];
    request.target = start[1];
    request.http10 = start[2] == "HTTP/1.0";
    request.keepAlive = !request.http10;
    const QUrl url = QUrl::fromEncoded(request.target);
    if (!url.isValid()) {
        return std::nullopt;
    }
    request.path = url.path();
    request.query = QUrlQuery(url.query(QUrl::FullyEncoded));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        const QByteArray name = lines[i].left(colon);
        if (colon <= 0 || !isToken(name)) {
            return std::nullopt; // no name, a space before the colon, or a folded line
        }
        const QByteArray value = lines[i].mid(colon + 1).trimmed();
        const QByteArray lower = name.toLower();
        if (lower == "content-length") {
            request.announcesBody = request.announcesBody || value != "0";
        } else if (lower == "transfer-encoding") {
            request.announcesBody = true;
        } else if (lower == "connection" && listsToken(value, "close")) {
            request.keepAlive = false;
        }
        request.headers.append({name, value});
    }
    return request;
}

} // namespace quenta::flash
