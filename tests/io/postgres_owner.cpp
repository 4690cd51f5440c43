// Starts the test support's PostgreSQL server, prints its folder, and ends as its argument says:
// "return" from main, "fatal" by qFatal, "wait" until a signal ends it. Exit 77 where PostgreSQL is
// not installed.
#include "Postgres.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const QByteArray way = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    quenta::testing::PostgresServer server;
    if (!server.running()) {
        std::fprintf(stderr, "%s%s\n", qPrintable(server.missing()), qPrintable(server.problem()));
        return server.missing().isEmpty() ? 1 : 77;
    }
    std::printf("%s\n", qPrintable(server.folder()));
    std::fflush(stdout);
    if (way == "fatal") {
        qFatal("ended by qFatal with its server running");
    }
    // A shell may have started this program with SIGINT ignored: the test's signal must end it.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    return way == "wait" ? app.exec() : 0;
}
