// One of several programs that use a journal at once: takes COUNT numbers of the series "line" and
// records a finished job for each, as station NAME. Exit status 0 when every write went through.
#include "io/Journal.h"

#include <QCoreApplication>
#include <QTextStream>

using namespace quenta;

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    QTextStream err(stderr);
    const auto failed = [&err](const QString &why) {
        err << why << '\n';
        return 1;
    };
    if (arguments.size() != 4) {
        return failed(QStringLiteral("usage: journal_worker URL COUNT NAME"));
    }
    const auto place = readJournalPlace(arguments[1]);
    auto journal = place ? Journal::open(*place)
                         : JournalResult<std::unique_ptr<Journal>>::failure(place.error);
    if (!journal) {
        return failed(journal.error);
    }
    for (int i = 0; i < arguments[2].toInt(); ++i) {
        const auto serial = (*journal)->takeSerial(QStringLiteral("line"));
        if (!serial) {
            return failed(serial.error);
        }
        JobStart job;
        job.station = arguments[3];
        job.series = QStringLiteral("line");
        job.serial = *serial;
        const auto id = (*journal)->start(job);
        if (!id) {
            return failed(id.error);
        }
        JobEnd end;
        end.result = QStringLiteral("ok");
        end.lines = i;
        if (const QString why = (*journal)->complete(*id, end); !why.isEmpty()) {
            return failed(why);
        }
    }
    return 0;
}
