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
    if (arguments.size() != 4) {
        err << "usage: journal_worker URL COUNT NAME\n";
        return 2;
    }
    const auto place = readJournalPlace(arguments[1]);
    auto journal = place ? Journal::open(*place)
                         : JournalResult<std::unique_ptr<Journal>>::failure(place.error);
    if (!journal) {
        err << journal.error << '\n';
        return 1;
    }
    const int count = arguments[2].toInt();
    for (int i = 0; i < count; ++i) {
        const auto serial = (*journal)->takeSerial(QStringLiteral("line"));
        if (!serial) {
            err << serial.error << '\n';
            return 1;
        }
        JobStart job;
        job.station = arguments[3];
        job.series = QStringLiteral("line");
        job.serial = *serial;
        const auto id = (*journal)->start(job);
        if (!id) {
            err << id.error << '\n';
            return 1;
        }
        JobEnd end;
        end.result = QStringLiteral("ok");
        end.lines = i;
        if (const QString why = (*journal)->complete(*id, end); !why.isEmpty()) {
            err << why << '\n';
            return 1;
        }
    }
    return 0;
}
