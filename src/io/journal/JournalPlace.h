#pragma once

#include "io/journal/JournalResult.h"

#include <QString>

namespace quenta {

// Where a journal is kept: an SQLite file of this station, or a PostgreSQL database that the
// stations of a production line share.
struct JournalPlace {
    enum class Kind { Sqlite, Postgres };
    Kind kind = Kind::Sqlite;
    QString path;     // SQLite: the file, absolute
    QString user;     // PostgreSQL: the role; empty: the system user's name
    QString password; // PostgreSQL: never shown
    QString host;     // PostgreSQL: a host name, or a socket folder (absolute); empty: the default
    int port = 0;     // PostgreSQL: 0 for the default, 5432
    QString database; // PostgreSQL

    // The place as a URL for people, without the password.
    QString shown() const;
};

// Reads a journal URL: "sqlite:PATH" (a relative PATH is taken from the working folder, a leading
// "~/" from the home folder; a PATH that begins with ":" or with "~" and a user's name is
// refused, since SQLite or the shell would take it for something else), or a
// PostgreSQL URI "postgresql://USER@HOST:PORT/DB", "postgresql://USER@/DB?host=/socket/dir&port=N"
// ("postgres://" too; the user, password, host and port may be left out). Anything else is an
// error that says what is wrong and what is expected.
JournalResult<JournalPlace> readJournalPlace(const QString &url);

// The journal a program keeps when told none: the URL in $QUENTA_JOURNAL when it is set and not
// empty, else sqlite:$XDG_DATA_HOME/quenta/journal.sqlite (~/.local/share when XDG_DATA_HOME is not
// set). Opening a journal creates the folder of its file.
JournalResult<JournalPlace> defaultJournalPlace();

} // namespace quenta
