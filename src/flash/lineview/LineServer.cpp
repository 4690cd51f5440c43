#include "flash/lineview/LineServer.h"

#include "flash/lineview/LineApi.h"
#include "flash/lineview/LineMetrics.h"
#include "flash/lineview/WebFiles.h"
#include "flash/lineview/http/Connection.h"

#include <QDateTime>
#include <QTcpServer>
#include <QTcpSocket>

namespace quenta::flash {
namespace {

Reply needsToken(Reply reply) {
    reply.headers.append(QPair<QByteArray, QByteArray>("WWW-Authenticate", "Bearer"));
    return reply;
}

} // namespace

LineServer::LineServer(RequestRules rules, JournalThread &journal, QTcpServer *listener,
                       QObject *parent)
    : QObject(parent), rules_(std::move(rules)), journal_(journal),
      counter_(std::make_shared<BoardCounter>()) {
    connect(listener, &QTcpServer::newConnection, this, [this, listener] {
        while (QTcpSocket *socket = listener->nextPendingConnection()) {
            new Connection(socket, *this, this);
        }
    });
}

std::optional<Reply> LineServer::answerAtOnce(const HttpRequest &request) {
    if (const auto refusal = refusalOf(request, rules_)) {
        Reply reply = errorReply(refusal->status, refusal->reason);
        if (refusal->status == 405) {
            reply.headers.append(QPair<QByteArray, QByteArray>("Allow", "GET, HEAD"));
        }
        return reply;
    }
    if (const auto file = webFile(request.path)) {
        if (!file->needsToken || carriesToken(request, rules_)) {
            return Reply{200, file->contentType, file->body, {}, {}};
        }
        // The page without data, which asks for the token.
        return needsToken({401, file->contentType, file->body, {}, {}});
    }
    if (!carriesToken(request, rules_)) {
        return needsToken(errorReply(401, QStringLiteral("this view needs its token")));
    }
    if (request.path != QLatin1String("/metrics") &&
        !request.path.startsWith(QLatin1String("/api/"))) {
        return errorReply(404, QStringLiteral("there is nothing at %1").arg(request.path));
    }
    return std::nullopt;
}

void LineServer::answer(const HttpRequest &request, QObject *context,
                        std::function<void(Reply)> done) {
    if (auto reply = answerAtOnce(request)) {
        done(std::move(*reply));
        return;
    }
    const QString path = request.path;
    const QUrlQuery query = request.query;
    journal_.run<Reply>(
        context,
        [path, query, counter = counter_](JournalKeeper &keeper) {
            return path == QLatin1String("/metrics")
                       ? answerMetrics(counter, keeper, query)
                       : answerApi(keeper, path.mid(5), query, QDateTime::currentDateTimeUtc());
        },
        std::move(done));
}

void LineServer::piece(const std::function<BodyPiece(JournalKeeper &)> &next, QObject *context,
                       std::function<void(BodyPiece)> done) {
    journal_.run<BodyPiece>(context, next, std::move(done));
}

} // namespace quenta::flash
