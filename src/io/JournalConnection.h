#pragma once

#include "io/JournalPlace.h"
#include "io/JournalResult.h"

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
// it returns, and a writer waits up to 10 s for another one.
class JournalConnection {
public:
    // Connects; for SQLite, creates the file's folder and the file when missing. The error says
    // why (the journal's place is added by the caller). A read-only connection makes nothing and
    // writes nothing: an SQLite file must be there, and no statement of it can change the journal.
    static JournalResult<std::unique_ptr<JournalConnection>>
    open(const JournalPlace &place, JournalAccess access = JournalAccess::ReadWrite);
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
    // error of `work` or of the commit; empty when committed.
    QString inTransaction(const std::function<QString()> &work);

private:
    JournalConnection(QString name, bool postgres);

    QString name_;
    bool postgres_;
    bool frozen_ = false;
};

} // namespace quenta
