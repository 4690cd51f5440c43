#pragma once

#include "flash/lineview/http/HttpRequest.h"
#include "flash/lineview/http/Reply.h"

#include <QObject>

#include <functional>

namespace quenta::flash {

// What answers a connection's requests. Each call gives its result to `done` on the connection's
// thread, at once or later, unless `context` is gone by then.
class Answerer {
public:
    virtual ~Answerer() = default;

    // The answer to a request.
    virtual void answer(const HttpRequest &request, QObject *context,
                        std::function<void(Reply)> done) = 0;

    // The next piece of a body that goes on.
    virtual void piece(const std::function<BodyPiece(JournalKeeper &)> &next, QObject *context,
                       std::function<void(BodyPiece)> done) = 0;
};

} // namespace quenta::flash
