#pragma once

// The two kinds of journal a test runs on, as rows of a data-driven test, and a new, empty journal
// of either: an SQLite file in the test's folder, or a database of the PostgreSQL server it
// started.

#include "Postgres.h"

#include <QString>
#include <QTemporaryDir>
#include <QtTest>

namespace quenta::testing {

inline void addJournalKinds() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("sqlite") << QStringLiteral("sqlite");
    QTest::newRow("postgresql") << QStringLiteral("postgresql");
}

// A journal of `kind` ("sqlite" or "postgresql") that nothing has used yet: its URL.
inline QString freshJournalUrl(const QString &kind, const QTemporaryDir &files,
                               PostgresServer &postgres) {
    static int made = 0;
    const QString name = QStringLiteral("journal%1").arg(++made);
    return kind == QLatin1String("sqlite") ? "sqlite:" + files.filePath(name + ".sqlite")
                                           : postgres.createDatabase(name);
}

} // namespace quenta::testing
