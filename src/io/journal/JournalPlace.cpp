#include "io/journal/JournalPlace.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>
#include <QUrlQuery>

namespace quenta {
namespace {

const QString kSqliteScheme = QStringLiteral("sqlite:");
const QString kExpected = QStringLiteral("write sqlite:PATH or postgresql://USER@HOST:PORT/DB "
                                         "(or postgresql://USER@/DB?host=/socket/folder&port=N)");

JournalResult<JournalPlace> refused(const QString &url, const QString &why) {
    return JournalResult<JournalPlace>::failure(
        QStringLiteral("\"%1\" is no journal URL: %2").arg(url, why));
}

JournalResult<JournalPlace> readSqlite(const QString &url) {
    const QString path = url.mid(kSqliteScheme.size());
    if (path.isEmpty()) {
        return refused(url, QStringLiteral("it names no file; write sqlite:PATH"));
    }
    // SQLite takes ":memory:" for a database that lives only as long as its connection: each run
    // would hand out the first serial numbers again.
    if (path.startsWith(u':')) {
        return refused(
            url, QStringLiteral("a name that begins with \":\" is no file; write sqlite:PATH"));
    }
    if (path.startsWith(u'~') && !path.startsWith(QStringLiteral("~/"))) {
        return refused(url, QStringLiteral("only ~/ is taken for the home folder; write the "
                                           "full path"));
    }
    JournalPlace place;
    const QString expanded = path.startsWith(u'~') ? QDir::homePath() + path.mid(1) : path;
    place.path = QDir::cleanPath(QFileInfo(expanded).absoluteFilePath());
    return {place, {}};
}

// The port of a query parameter, or 0 when the text is no port number.
int portNumber(const QString &text) {
    bool ok = false;
    const int port = text.toInt(&ok);
    return ok && port >= 1 && port <= 65535 ? port : 0;
}

JournalResult<JournalPlace> readPostgres(const QString &url) {
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid()) {
        return refused(url, parsed.errorString());
    }
    JournalPlace place;
    place.kind = JournalPlace::Kind::Postgres;
    place.user = parsed.userName(QUrl::FullyDecoded);
    place.password = parsed.password(QUrl::FullyDecoded);
    place.host = parsed.host(QUrl::FullyDecoded);
    place.port = parsed.port(0);
    place.database = parsed.path(QUrl::FullyDecoded).mid(1);
    if (place.database.isEmpty() || place.database.contains(u'/')) {
        return refused(url, QStringLiteral("it names no database after the host; ") + kExpected);
    }
    const QUrlQuery query(parsed);
    for (const auto &[key, value] : query.queryItems(QUrl::FullyDecoded)) {
        if (key == QStringLiteral("host")) {
            place.host = value;
        } else if (key == QStringLiteral("port")) {
            place.port = portNumber(value);
            if (place.port == 0) {
                return refused(
                    url, QStringLiteral("the port \"%1\" is no number from 1 to 65535").arg(value));
            }
        } else {
            return refused(url,
                           QStringLiteral("the parameter \"%1\" is not understood (only host and "
                                          "port are)")
                               .arg(key));
        }
    }
    return {place, {}};
}

} // namespace

QString JournalPlace::shown() const {
    if (kind == Kind::Sqlite) {
        return kSqliteScheme + path;
    }
    const bool socket = host.startsWith(u'/');
    QString text = QStringLiteral("postgresql://");
    if (!user.isEmpty()) {
        text += user + u'@';
    }
    if (!socket) {
        text += host + (port != 0 ? u':' + QString::number(port) : QString());
    }
    text += u'/' + database;
    if (socket) {
        text += QStringLiteral("?host=") + host +
                (port != 0 ? QStringLiteral("&port=") + QString::number(port) : QString());
    }
    return text;
}

JournalResult<JournalPlace> readJournalPlace(const QString &url) {
    if (url.startsWith(kSqliteScheme)) {
        return readSqlite(url);
    }
    if (url.startsWith(QStringLiteral("postgresql://")) ||
        url.startsWith(QStringLiteral("postgres://"))) {
        return readPostgres(url);
    }
    return refused(url, kExpected);
}

JournalResult<JournalPlace> defaultJournalPlace() {
    const QString url = qEnvironmentVariable("QUENTA_JOURNAL");
    if (!url.isEmpty()) {
        auto place = readJournalPlace(url);
        if (!place) {
            place.error = QStringLiteral("QUENTA_JOURNAL: ") + place.error;
        }
        return place;
    }
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty()) {
        return JournalResult<JournalPlace>::failure(
            QStringLiteral("No folder for the journal: neither XDG_DATA_HOME nor HOME is set; set "
                           "QUENTA_JOURNAL to the journal's URL"));
    }
    JournalPlace place;
    place.path = data + QStringLiteral("/quenta/journal.sqlite");
    return {place, {}};
}

} // namespace quenta
