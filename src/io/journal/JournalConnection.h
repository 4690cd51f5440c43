#pragma once

#include "io/journal/JournalPlace.h"
#include "io/journal/JournalResult.h"
#include "io/system/FileIdentity.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

#include <functional>
#include <memory>

namespace quenta {

// Whether a connection may change the journal.
enum class JournalAccess { ReadWrite, ReadOnly };

// One connection of its own to a journal's database, through Qt SQL (QSQLITE or QPSQL). An SQLite
// file is shared by several processes: it is kept in WAL mode, every commit reaches the disk before
// it returns, and a writer waits up to 10 s for another one. No statement runs on an SQLite file
// that was removed or replaced since it was opened (its device and inode are checked first): what
// it wrote would be lost with the old file. A PostgreSQL connection that the server cut (a restart)
// is made again, for up to `reconnectMs` after the loss is found, and the statement or transaction
// that found it runs once more.
class JournalConnection {
public:
    // Connects; for SQLite, creates the file's folder and the file when missing. The error says
    // why (the journal's place is added by the caller). A read-only connection makes nothing and
    // writes nothing: an SQLite file must be there, and no statement of it can change the journal.
    static JournalResult<std::unique_ptr<JournalConnection>>
    open(const JournalPlace &place, JournalAccess access = JournalAccess::ReadWrite,
         int reconnectMs = 0);
    ~JournalConnection();
    JournalConnection(const JournalConnection &) = delete;
    JournalConnection &operator=(const JournalConnection &) = delete;

    bool isPostgres() const { return postgres_; }

    // A read-only SQLite file in a folder this program may not write, where SQLite cannot keep the
    // shared index that lets a reader follow a writer: the file is read as it was when connected.
    bool isFrozen() const { return frozen_; }

    // Runs a statement with values bound to its "?" in order: the query before its first row, or
    // why it failed.
    JournalResult<QSqlQuery> run(const QString &sql, const QVariantList &values = {});

    // Runs `work` in one transaction that takes the write lock at its start (SQLite: BEGIN
    // IMMEDIATE), committed when `work` returns no error text and rolled back when it does. The
    // error of `work` or of the commit; empty when committed. A transaction cut by a lost
    // connection is run again whole: one whose commit was lost on the way may then have been done
    // twice, so `work` must not mind that (a number taken twice is one number skipped).
    QString inTransaction(const std::function<QString()> &work);

private:
    JournalConnection(QString name, const JournalPlace &place, JournalAccess access,
                      int reconnectMs);
    JournalResult<QSqlQuery> runOnce(const QString &sql, const QVariantList &values);
    QString connect();
    QString sameFile() const;
    // After a failure: whether the server cut the connection, which is then made again (empty
    // when it was), or why it could not be.
    bool connectionLost();
    QString reconnect();

    QString name_;
    JournalPlace place_;
    int reconnectMs_;
    bool postgres_;
    bool readOnly_;
    bool frozen_ = false;
    bool transaction_ = false;
    // SQLite: the file as it was opened.
    FileIdentity file_; // the file it opened
};

} // namespace quenta
