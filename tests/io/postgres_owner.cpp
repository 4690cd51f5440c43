// Starts the test support's PostgreSQL server, prints its folder, and ends as its argument says:
// "return" from main, "fatal" by qFatal, "wait" until a signal ends it.
#include "Postgres.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

#include <sys/prctl.h>

int main(int argc, char *argv[]) {
    // A shell may have started this program with SIGINT ignored: the test's signal must end it.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    QCoreApplication app(argc, argv);
    const QByteArray way = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    quenta::testing::PostgresServer server;
    if (!server.running()) {
        std::fprintf(stderr, "%s%s\n", qPrintable(server.missing()), qPrintable(server.problem()));
        return 1;
    }
    std::printf("%s\n", qPrintable(server.folder()));
    std::fflush(stdout);
    if (way == "fatal") {
        ::prctl(PR_SET_DUMPABLE, 0); // no core dump of this end on the host
        qFatal("ended by qFatal with its server running");
    }
    return way == "wait" ? app.exec() : 0;
}
