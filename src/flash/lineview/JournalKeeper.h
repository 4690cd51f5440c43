#pragma once

#include "io/journal/Journal.h"

#include <QDeadlineTimer>
#include <QString>

#include <memory>

namespace quenta::flash {

// The view's journal, kept across the journal going away: opened at the first request, and a
// connection that failed is dropped and opened again at a later request, no sooner than a moment
// after the last attempt, so that a PostgreSQL server that restarts is found again without the
// view being restarted. An SQLite file read as it was when opened (see Journal::isFrozen) is
// opened again for every request. It is used by one thread, the one that made it.
class JournalKeeper {
public:
    explicit JournalKeeper(JournalPlace place);

    // The journal, opened again when it was dropped; null while it cannot be (why() says why).
    Journal *journal();

    // Drops the connection after a query failed with `why`.
    void drop(const QString &why);

    const QString &why() const { return why_; }

private:
    JournalPlace place_;
    std::unique_ptr<Journal> journal_;
    QString why_;
    QDeadlineTimer nextAttempt_;
};

} // namespace quenta::flash
