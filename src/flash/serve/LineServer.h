#pragma once

#include "flash/serve/JournalKeeper.h"
#include "flash/serve/Reply.h"
#include "flash/serve/RequestGuard.h"

#include <QAbstractHttpServer>

namespace quenta::flash {

// The view over HTTP: the page and its files from the program's resources, and the API. Each
// request is answered as soon as it is read, before the next one of its connection is looked at,
// and every answer carries the headers that keep a browser from running or framing anything but
// the page's own files.
class LineServer : public QAbstractHttpServer {
    Q_OBJECT

public:
    LineServer(RequestRules rules, JournalKeeper &keeper, QObject *parent = nullptr);

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    Reply replyTo(const QHttpServerRequest &request);

    RequestRules rules_;
    JournalKeeper &keeper_;
};

} // namespace quenta::flash
