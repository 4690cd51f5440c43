#include "flash/serve/ServeCommand.h"

#include "flash/Report.h"
#include "flash/StopSignals.h"
#include "flash/serve/ConnectionLimits.h"
#include "flash/serve/LineServer.h"

#include <QCoreApplication>

#include <cstdio>
#include <memory>

namespace quenta::flash {
namespace {

constexpr int kCannotListen = 3;

QString urlOf(const QHostAddress &address, quint16 port) {
    const bool ipv6 = address.protocol() == QAbstractSocket::IPv6Protocol;
    return QStringLiteral("http://%1%2%3:%4/")
        .arg(ipv6 ? QStringLiteral("[") : QString(), address.toString(),
             ipv6 ? QStringLiteral("]") : QString())
        .arg(port);
}

} // namespace

int serveJournal(const JournalPlace &place, const ServeSettings &settings) {
    auto opened = Journal::openReadOnly(place);
    if (!opened) {
        RunReport failure;
        failure.command = QStringLiteral("serve");
        failure.problems << opened.error;
        return printReport(failure, ReportForm::Text);
    }
    JournalKeeper keeper(place, std::move(*opened));
    auto listener = std::make_unique<ConnectionLimits>();
    if (!listener->listen(settings.address, settings.port)) {
        std::fprintf(stderr, "quenta-flash: cannot listen on %s: %s\n",
                     qPrintable(urlOf(settings.address, settings.port)),
                     qPrintable(listener->errorString()));
        return kCannotListen;
    }
    const quint16 port = listener->serverPort();
    LineServer server({settings.address, port, settings.hosts, settings.token}, keeper);
    // The server takes the listener as its child.
    server.bind(listener.release());
    std::printf("Serving the journal %s, read only, at\n%s\nuntil Ctrl+C.\n",
                qPrintable(place.shown()), qPrintable(urlOf(settings.address, port)));
    std::fflush(stdout);
    onStopSignals(QCoreApplication::instance(), [](int) { QCoreApplication::exit(0); });
    return QCoreApplication::exec();
}

} // namespace quenta::flash
