#pragma once

// One quenta-flash call that flashes a file into the boards of some ports, timed as the benchmarks
// time it: no journal, nothing printed but its errors.

#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>

namespace sample {

// Runs the flasher to its end; its wall time in seconds, or a negative number when it failed.
inline double timedFlash(const QString &flasher, const QStringList &ports, const QString &file) {
    QStringList arguments{QStringLiteral("-q"), QStringLiteral("--no-journal")};
    for (const QString &port : ports) {
        arguments << QStringLiteral("-p") << port;
    }
    arguments << QStringLiteral("flash") << file;
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(flasher, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        return -1.0;
    }
    return static_cast<double>(clock.nsecsElapsed()) / 1e9;
}

} // namespace sample
