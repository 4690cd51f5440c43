#pragma once

#include "flash/lineview/BoardCounter.h"
#include "flash/lineview/JournalThread.h"
#include "flash/lineview/RequestGuard.h"
#include "flash/lineview/http/Answerer.h"

#include <QObject>

class QTcpServer;

namespace quenta::flash {

// The view over HTTP: the page and its files from the program's resources, the API and the
// metrics, for the connections `listener` accepts. Refusals and files are answered at once, what
// reads the journal on the journal's thread.
class LineServer : public QObject, public Answerer {
    Q_OBJECT

public:
    LineServer(RequestRules rules, JournalThread &journal, QTcpServer *listener,
               QObject *parent = nullptr);

    void answer(const HttpRequest &request, QObject *context,
                std::function<void(Reply)> done) override;
    void piece(const std::function<BodyPiece(JournalKeeper &)> &next, QObject *context,
               std::function<void(BodyPiece)> done) override;

private:
    // The answer when it needs no journal.
    std::optional<Reply> answerAtOnce(const HttpRequest &request);

    RequestRules rules_;
    JournalThread &journal_;
    std::shared_ptr<BoardCounter> counter_; // the metrics' counts, used on the journal's thread
};

} // namespace quenta::flash
