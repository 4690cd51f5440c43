#pragma once

// quenta-flash (QUENTA_FLASH) run as a child process of a test: its exit status, its standard
// output (and the JSON report that it may be) and its standard error.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <unistd.h>

namespace quenta::testing {

// A bound that keeps a broken program from hanging a test; never a measure of speed.
inline constexpr int kFlasherGuardMs = 120000;

struct FlasherRun {
    int exit = -1;
    QByteArray out;
    QByteArray err;

    QJsonObject report() const { return QJsonDocument::fromJson(out).object(); }
    QJsonObject board() const { return report()["boards"][0].toObject(); }
    // The jobs that log --json listed.
    QJsonArray rows() const { return QJsonDocument::fromJson(out).array(); }
};

// The values of `keys` in a JSON object, joined by "|" (null as "null").
inline QString joined(const QJsonValue &object, const QStringList &keys) {
    QStringList values;
    for (const QString &key : keys) {
        const QJsonValue value = object[key];
        values << (value.isNull()     ? QStringLiteral("null")
                   : value.isString() ? value.toString()
                   : value.isBool()   ? QString(value.toBool() ? "true" : "false")
                                      : QString::number(value.toDouble()));
    }
    return values.join(u'|');
}

// Each object of an array in one line: the values of `keys`, joined by "|".
inline QStringList lines(const QJsonArray &array, const QStringList &keys) {
    QStringList lines;
    for (const QJsonValue &each : array) {
        lines << joined(each, keys);
    }
    return lines;
}

// Starts the flasher; `unprivileged`: as root, as the user nobody.
inline void startFlasher(QProcess &process, const QStringList &arguments,
                         bool unprivileged = false) {
    if (unprivileged && ::geteuid() == 0) {
        process.start("setpriv", QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                             QUENTA_FLASH} +
                                     arguments);
    } else {
        process.start(QUENTA_FLASH, arguments);
    }
}

// Starts the flasher and waits until `board` has taken `commands` commands: whether it has.
template <typename Board>
bool startedOn(QProcess &process, const Board &board, const QStringList &arguments,
               std::size_t commands = 4) {
    startFlasher(process, arguments);
    return QTest::qWaitFor([&] { return board.commands().size() >= commands; }, kFlasherGuardMs);
}

inline FlasherRun finished(QProcess &process) {
    if (!process.waitForFinished(kFlasherGuardMs)) {
        qFatal("quenta-flash did not end");
    }
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

inline FlasherRun runFlasher(const QStringList &arguments, bool unprivileged = false) {
    QProcess process;
    startFlasher(process, arguments, unprivileged);
    return finished(process);
}

} // namespace quenta::testing
