#include "flash/serve/LineServer.h"

#include "flash/serve/ConnectionLimits.h"
#include "flash/serve/LineApi.h"
#include "flash/serve/WebFiles.h"

#include <QDateTime>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpSocket>

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

void send(QHttpServerResponder &responder, const Reply &reply, bool head) {
    responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(reply.status));
    for (const auto &[name, value] : kEveryAnswer + reply.headers) {
        responder.writeHeader(name, value);
    }
    if (!reply.contentType.isEmpty()) {
        responder.writeHeader("Content-Type", reply.contentType);
    }
    responder.writeHeader("Content-Length", QByteArray::number(reply.body.size()));
    responder.writeBody(head ? QByteArray() : reply.body);
}

} // namespace

LineServer::LineServer(RequestRules rules, JournalKeeper &keeper, QObject *parent)
    : QAbstractHttpServer(parent), rules_(std::move(rules)), keeper_(keeper) {}

Reply LineServer::replyTo(const QHttpServerRequest &request) {
    if (const auto refusal = refusalOf(request, rules_)) {
        Reply reply = errorReply(refusal->status, refusal->reason);
        if (refusal->status == 405) {
            reply.headers.append(QPair<QByteArray, QByteArray>("Allow", "GET, HEAD"));
        }
        return reply;
    }
    const QString path = request.url().path();
    if (const auto file = webFile(path)) {
        if (!file->needsToken || carriesToken(request, rules_)) {
            return {200, file->contentType, file->body, {}};
        }
        // The page without data, which asks for the token.
        Reply reply{401, file->contentType, file->body, {}};
        reply.headers.append(QPair<QByteArray, QByteArray>("WWW-Authenticate", "Bearer"));
        return reply;
    }
    if (!carriesToken(request, rules_)) {
        Reply reply = errorReply(401, QStringLiteral("this view needs its token"));
        reply.headers.append(QPair<QByteArray, QByteArray>("WWW-Authenticate", "Bearer"));
        return reply;
    }
    if (path.startsWith(QLatin1String("/api/"))) {
        return answerApi(keeper_, path.mid(5), request.query(), QDateTime::currentDateTimeUtc());
    }
    return errorReply(404, QStringLiteral("there is nothing at %1").arg(path));
}

bool LineServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) {
    QHttpServerResponder responder = makeResponder(request, socket);
    send(responder, replyTo(request), request.method() == QHttpServerRequest::Method::Head);
    ConnectionLimits::answered(socket);
    return true;
}

void LineServer::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) {
    QHttpServerResponder responder = makeResponder(request, socket);
    send(responder, errorReply(404, QStringLiteral("there is nothing here")), false);
}

} // namespace quenta::flash
