#include "flash/serve/ServeSettings.h"

#include "flash/FlashOptions.h"

#include <QFile>
#include <QRegularExpression>

namespace quenta::flash {
namespace {

const QStringList kServeOnly{QStringLiteral("listen"), QStringLiteral("token-file"),
                             QStringLiteral("allow-host")};

// "ADDR:PORT" or "[IPv6]:PORT" into the settings; false when it is neither.
bool readListen(const QString &text, ServeSettings &serve) {
    static const QRegularExpression form(QStringLiteral("^(?:\\[([0-9A-Fa-f:.]+)\\]|([0-9.]+)):"
                                                        "([0-9]{1,5})$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch()) {
        return false;
    }
    const QString address = match.captured(1).isEmpty() ? match.captured(2) : match.captured(1);
    const QHostAddress parsed(address);
    const bool ipv6 = !match.captured(1).isEmpty();
    const int port = match.captured(3).toInt();
    if (parsed.isNull() || port > 65535 ||
        (parsed.protocol() == QAbstractSocket::IPv6Protocol) != ipv6) {
        return false;
    }
    serve.address = parsed;
    serve.port = static_cast<quint16>(port);
    return true;
}

// The first line of the file, without its line end: empty when there is none (`why` says why).
QByteArray readToken(const QString &path, QString &why) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        why = QStringLiteral("--token-file %1 cannot be read: %2").arg(path, file.errorString());
        return {};
    }
    QByteArray token = file.readLine(4096);
    while (token.endsWith('\n') || token.endsWith('\r')) {
        token.chop(1);
    }
    if (token.trimmed().isEmpty()) {
        why = QStringLiteral("--token-file %1 holds no token on its first line").arg(path);
        return {};
    }
    return token;
}

// A host name as it may stand in a Host header: letters, digits, dots and hyphens.
bool isHostName(const QString &name) {
    static const QRegularExpression form(QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9.-]{0,252})$"));
    return form.match(name).hasMatch();
}

} // namespace

QString readServeOptions(const QCommandLineParser &p, Settings &s) {
    if (s.command != Command::Serve) {
        for (const QString &name : kServeOnly) {
            if (p.isSet(name)) {
                return QStringLiteral("--%1 is for serve only").arg(name);
            }
        }
        return {};
    }
    ServeSettings &serve = s.serve;
    if (p.isSet(QStringLiteral("listen")) &&
        !readListen(p.value(QStringLiteral("listen")), serve)) {
        return QStringLiteral("--listen must be ADDR:PORT with an IP address, such as "
                              "127.0.0.1:8470, 0.0.0.0:8470 or [::1]:8470");
    }
    if (p.isSet(QStringLiteral("token-file"))) {
        QString why;
        serve.token = readToken(p.value(QStringLiteral("token-file")), why);
        if (serve.token.isEmpty()) {
            return why;
        }
    }
    for (const QString &name : p.values(QStringLiteral("allow-host"))) {
        if (!isHostName(name)) {
            return QStringLiteral("--allow-host \"%1\" is no host name").arg(name);
        }
        serve.hosts << name.toLower();
    }
    if (!serve.address.isLoopback() && serve.token.isEmpty()) {
        return QStringLiteral("--listen %1 is reachable from other machines: give --token-file "
                              "FILE, whose first line is the token every request must carry")
            .arg(p.value(QStringLiteral("listen")));
    }
    if (s.json || s.jsonLines) {
        return QStringLiteral("serve prints its address as text: not --json or --json-lines");
    }
    return {};
}

} // namespace quenta::flash
