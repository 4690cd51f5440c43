#include "flash/lineview/http/HttpWire.h"

namespace quenta::flash {
namespace {

const QList<QPair<QByteArray, QByteArray>> kEveryAnswer{
    {"Content-Security-Policy",
     "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
     "connect-src 'self'; frame-ancestors 'none'"},
    {"X-Content-Type-Options", "nosniff"},
    {"Referrer-Policy", "no-referrer"},
    {"Cache-Control", "no-store"},
};

const char *reasonOf(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 414:
        return "URI Too Long";
    case 421:
        return "Misdirected Request";
    case 431:
        return "Request Header Fields Too Large";
    case 503:
        return "Service Unavailable";
    default:
        return "Unknown";
    }
}

} // namespace

QByteArray answerHead(const Reply &reply, BodyFraming framing, qsizetype length, bool closes) {
    QByteArray head =
        "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonOf(reply.status) + "\r\n";
    for (const auto &[name, value] : kEveryAnswer + reply.headers) {
        head += name + ": " + value + "\r\n";
    }
    if (!reply.contentType.isEmpty()) {
        head += "Content-Type: " + reply.contentType + "\r\n";
    }
    if (framing == BodyFraming::Length) {
        head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    } else if (framing == BodyFraming::Chunked) {
        head += "Transfer-Encoding: chunked\r\n";
    }
    if (closes) {
        head += "Connection: close\r\n";
    }
    return head + "\r\n";
}

QByteArray chunk(const QByteArray &bytes) {
    return QByteArray::number(bytes.size(), 16) + "\r\n" + bytes + "\r\n";
}

} // namespace quenta::flash
