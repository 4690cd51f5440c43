#pragma once

// quenta-flash serve as a child process of a test, and plain HTTP/1.1 to it over a real socket:
// requests are written as they are given, so that a test can send what no browser would.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>

#include <csignal>
#include <optional>

namespace quenta::testing {

// A bound that keeps a broken program from hanging a test; never a measure of speed.
inline constexpr int kServeGuardMs = 20000;

struct HttpAnswer {
    int status = 0;
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;

    QByteArray header(const QByteArray &name) const { return headers.value(name); }
};

// A body and where it ends in a buffer, once it is whole.
using WholeBody = std::optional<std::pair<QByteArray, qsizetype>>;

// A chunked body that starts at `from`.
inline WholeBody dechunked(const QByteArray &buffer, qsizetype from) {
    QByteArray body;
    for (;;) {
        const qsizetype lineEnd = buffer.indexOf("\r\n", from);
        bool ok = false;
        const qsizetype size = buffer.mid(from, lineEnd - from).toLongLong(&ok, 16);
        if (lineEnd < 0 || !ok || buffer.size() < lineEnd + 2 + size + 2) {
            return std::nullopt;
        }
        if (size == 0) {
            return std::pair{body, lineEnd + 4};
        }
        body += buffer.mid(lineEnd + 2, size);
        from = lineEnd + 2 + size + 2;
    }
}

// The answers on a socket, read until `count` are whole (their bodies by Content-Length or
// chunked) or the socket closes; `head` when they answer HEAD requests, which have no body.
inline QList<HttpAnswer> readAnswers(QTcpSocket &socket, int count, bool head = false) {
    QList<HttpAnswer> answers;
    QByteArray buffer;
    const QDeadlineTimer deadline(kServeGuardMs);
    while (answers.size() < count && !deadline.hasExpired()) {
        if (const qsizetype end = buffer.indexOf("\r\n\r\n"); end >= 0) {
            HttpAnswer answer;
            const QList<QByteArray> lines = buffer.left(end).split('\n');
            answer.status = lines[0].split(' ').value(1).toInt();
            for (const QByteArray &line : lines.mid(1)) {
                const qsizetype colon = line.indexOf(':');
                answer.headers.insert(line.left(colon).trimmed().toLower(),
                                      line.mid(colon + 1).trimmed());
            }
            const qsizetype length = head ? 0 : answer.header("content-length").toLongLong();
            const WholeBody body = !head && answer.header("transfer-encoding") == "chunked"
                                       ? dechunked(buffer, end + 4)
                                   : buffer.size() >= end + 4 + length
                                       ? WholeBody({buffer.mid(end + 4, length), end + 4 + length})
                                       : std::nullopt;
            if (body) {
                answer.body = body->first;
                buffer.remove(0, body->second);
                answers.append(answer);
                continue;
            }
        }
        if (socket.state() != QAbstractSocket::ConnectedState && socket.bytesAvailable() == 0) {
            break;
        }
        if (socket.bytesAvailable() > 0 || socket.waitForReadyRead(200)) {
            buffer += socket.readAll();
        }
    }
    return answers;
}

// Connects `socket` to the view on `port`, to read at most `buffered` bytes ahead (0: no bound):
// whether it did.
inline bool connectTo(QTcpSocket &socket, quint16 port, qint64 buffered = 0) {
    socket.setReadBufferSize(buffered);
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    return socket.waitForConnected(kServeGuardMs);
}

// A request of `target` as a browser at http://127.0.0.1:PORT/ puts it on the wire, with further
// header lines.
inline QByteArray request(quint16 port, const QByteArray &target, const QByteArray &method = "GET",
                          const QByteArrayList &headers = {}) {
    return (QByteArrayList{method + ' ' + target + " HTTP/1.1",
                           "Host: 127.0.0.1:" + QByteArray::number(port)} +
            headers)
               .join("\r\n") +
           "\r\n\r\n";
}

// GET `target` with further headers, on a connection of its own from the loopback address `from`.
inline HttpAnswer get(quint16 port, const QByteArray &target, const QByteArrayList &headers = {},
                      const QHostAddress &from = QHostAddress::LocalHost) {
    QTcpSocket socket;
    socket.bind(from);
    if (!connectTo(socket, port)) {
        return {};
    }
    socket.write(request(port, target, "GET", headers));
    return readAnswers(socket, 1).value(0);
}

// quenta-flash serve, started on a free port of the given address. When its memory is `measured`,
// memory freed under AddressSanitizer is used again at once, as without it, rather than held back
// to catch late uses.
class ServeProcess {
public:
    ServeProcess(const QString &program, const QStringList &arguments,
                 const QString &address = QStringLiteral("127.0.0.1"), bool measured = false) {
        if (measured) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("ASAN_OPTIONS", environment.value("ASAN_OPTIONS") +
                                                   ":quarantine_size_mb=0"
                                                   ":thread_local_quarantine_size_kb=0");
            process_.setProcessEnvironment(environment);
        }
        process_.start(program, QStringList{"serve", "--listen", address + ":0"} + arguments);
        static const QRegularExpression url(QStringLiteral("https?://[^ ]*:(\\d+)/"));
        const QDeadlineTimer deadline(kServeGuardMs);
        while (port_ == 0 && !deadline.hasExpired() && process_.state() != QProcess::NotRunning) {
            process_.waitForReadyRead(200);
            out_ += process_.readAllStandardOutput();
            port_ = static_cast<quint16>(url.match(QString::fromUtf8(out_)).captured(1).toUInt());
        }
    }

    ~ServeProcess() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(kServeGuardMs);
        }
    }

    ServeProcess(const ServeProcess &) = delete;
    ServeProcess &operator=(const ServeProcess &) = delete;

    // The port it listens on; 0 when it did not start (then why() says what it said).
    quint16 port() const { return port_; }
    QString why() { return QString::fromUtf8(out_ + process_.readAllStandardError()); }

    // The most memory it has held (VmHWM), in KiB; -1 when it cannot be read.
    qint64 peakKib() const {
        QFile status(QStringLiteral("/proc/%1/status").arg(process_.processId()));
        const auto match = QRegularExpression(QStringLiteral("VmHWM:\\s*(\\d+)"))
                               .match(status.open(QIODevice::ReadOnly) ? status.readAll() : "");
        return match.hasMatch() ? match.captured(1).toLongLong() : -1;
    }

    // Sends the signal and waits for the end: the exit status, or -1 when it did not end.
    int stop(int signal) {
        ::kill(static_cast<pid_t>(process_.processId()), signal);
        return process_.waitForFinished(kServeGuardMs) &&
                       process_.exitStatus() == QProcess::NormalExit
                   ? process_.exitCode()
                   : -1;
    }

private:
    QProcess process_;
    QByteArray out_;
    quint16 port_ = 0;
};

} // namespace quenta::testing

// In a Qt Test function: `serve`, quenta-flash (QUENTA_FLASH) serve started with the further
// arguments of ServeProcess; fails the test when it did not start.
#define QUENTA_SERVE(serve, ...)                                                                   \
    ServeProcess serve(QUENTA_FLASH, __VA_ARGS__);                                                 \
    QVERIFY2(serve.port() != 0, qPrintable(serve.why()))
