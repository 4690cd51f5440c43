// Measures the journal: a job's row written as running and completed, and a serial number taken,
// on an SQLite file (every commit synced to the disk) and on a PostgreSQL server started in a
// temporary folder with fsync on, as a production server runs. Prints milliseconds per operation.
#include "Postgres.h"
#include "io/journal/Journal.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

using namespace quenta;

namespace {

constexpr int kJobs = 200;

void measure(const QString &url) {
    const auto place = readJournalPlace(url);
    auto journal = place ? Journal::open(*place)
                         : JournalResult<std::unique_ptr<Journal>>::failure(place.error);
    if (!journal) {
        qFatal("%s", qPrintable(journal.error));
    }
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kJobs; ++i) {
        JobStart job;
        job.station = QStringLiteral("bench");
        job.firmware = QStringLiteral("firmware.hex");
        const auto id = (*journal)->start(job);
        if (!id) {
            qFatal("%s", qPrintable(id.error));
        }
        JobEnd end;
        end.result = QStringLiteral("ok");
        if (const QString why = (*journal)->complete(*id, end); !why.isEmpty()) {
            qFatal("%s", qPrintable(why));
        }
    }
    const double jobMs = double(timer.nsecsElapsed()) / 1e6 / kJobs;
    timer.restart();
    for (int i = 0; i < kJobs; ++i) {
        if (!(*journal)->takeSerial(QStringLiteral("bench"))) {
            qFatal("no serial number");
        }
    }
    const double serialMs = double(timer.nsecsElapsed()) / 1e6 / kJobs;
    std::printf("%-11s insert + complete: %6.2f ms   take serial: %6.2f ms   (%d each)\n",
                qPrintable(url.section(u':', 0, 0)), jobMs, serialMs, kJobs);
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    measure(QStringLiteral("sqlite:") + folder.filePath(QStringLiteral("journal.sqlite")));
    quenta::testing::PostgresServer server(true);
    if (!server.running()) {
        std::printf("postgresql  not measured: %s\n",
                    qPrintable(server.missing().isEmpty() ? server.problem() : server.missing()));
        return 0;
    }
    measure(server.createDatabase(QStringLiteral("bench")));
    return 0;
}
