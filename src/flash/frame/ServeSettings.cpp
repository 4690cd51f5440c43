#include "flash/frame/ServeSettings.h"

#include "flash/frame/OptionTable.h"
#include "flash/frame/Recipe.h"

#include <QFile>
#include <QRegularExpression>

namespace quenta::flash {
namespace {

// An option of serve given to another command: the mistake.
QString serveOnly(const OptionValue &value, const Settings &s, Option option) {
    return s.command == Command::Serve || !value.given
               ? QString()
               : QStringLiteral("%1 is for serve only").arg(optionText(option));
}

// "ADDR:PORT" or "[IPv6]:PORT" into the settings; false when it is neither.
bool listenOn(const QString &text, ServeSettings &serve) {
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

constexpr char kTlsPair[] =
    "--tls-cert and --tls-key are given together: the certificate and its private key";

// The whole of a file of at most 1 MiB: empty when it cannot be read (`why` says why).
QByteArray readPem(const QString &option, const QString &path, QString &why) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        why = QStringLiteral("%1 %2 cannot be read: %3").arg(option, path, file.errorString());
        return {};
    }
    return file.read(1024 * 1024);
}

} // namespace

QString readListen(const OptionValue &value, const GivenOptions &, Settings &s) {
    if (s.command != Command::Serve) {
        return serveOnly(value, s, Option::Listen);
    }
    return listenOn(value.text(), s.serve)
               ? QString()
               : QStringLiteral("--listen must be ADDR:PORT with an IP address, such as "
                                "127.0.0.1:8470, 0.0.0.0:8470 or [::1]:8470");
}

QString readTokenFile(const OptionValue &value, const GivenOptions &, Settings &s) {
    if (s.command != Command::Serve || !value.given) {
        return serveOnly(value, s, Option::TokenFile);
    }
    QString why;
    s.serve.token = readToken(value.text(), why);
    return why;
}

QString readAllowHost(const OptionValue &value, const GivenOptions &, Settings &s) {
    if (s.command != Command::Serve || !value.given) {
        return serveOnly(value, s, Option::AllowHost);
    }
    for (const QString &name : value.values) {
        if (!isHostName(name)) {
            return QStringLiteral("--allow-host \"%1\" is no host name").arg(name);
        }
        s.serve.hosts << name.toLower();
    }
    return {};
}

QString readTlsCert(const OptionValue &value, const GivenOptions &given, Settings &s) {
    if (s.command != Command::Serve || !value.given) {
        return serveOnly(value, s, Option::TlsCert);
    }
    if (!given.has(Option::TlsKey)) {
        return QString::fromLatin1(kTlsPair);
    }
    QString why;
    const QByteArray pem = readPem(QStringLiteral("--tls-cert"), value.text(), why);
    s.serve.tlsChain = QSslCertificate::fromData(pem, QSsl::Pem);
    if (why.isEmpty() && s.serve.tlsChain.isEmpty()) {
        why = QStringLiteral("--tls-cert %1 holds no PEM certificate").arg(value.text());
    }
    return why;
}

QString readTlsKey(const OptionValue &value, const GivenOptions &given, Settings &s) {
    if (s.command != Command::Serve || !value.given) {
        return serveOnly(value, s, Option::TlsKey);
    }
    if (!given.has(Option::TlsCert)) {
        return QString::fromLatin1(kTlsPair);
    }
    QString why;
    const QByteArray pem = readPem(QStringLiteral("--tls-key"), value.text(), why);
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec}) {
        if (!s.serve.tlsKey || s.serve.tlsKey->isNull()) {
            s.serve.tlsKey = QSslKey(pem, algorithm, QSsl::Pem);
        }
    }
    if (why.isEmpty() && s.serve.tlsKey->isNull()) {
        why = QStringLiteral("--tls-key %1 holds no private key that is not encrypted (RSA or EC, "
                             "PEM)")
                  .arg(value.text());
    }
    return why;
}

QString checkServe(const Settings &s) {
    if (s.recipe && s.recipe->pinOf(Option::Journal) == nullptr) {
        return QStringLiteral("serve --recipe shows the journal the recipe names, and the recipe "
                              "%1 names none: give it [journal] url")
            .arg(s.recipe->path);
    }
    if (!s.serve.address.isLoopback() && s.serve.token.isEmpty()) {
        return QStringLiteral("--listen %1 is reachable from other machines: give --token-file "
                              "FILE, whose first line is the token every request must carry")
            .arg(s.serve.address.protocol() == QAbstractSocket::IPv6Protocol
                     ? QStringLiteral("[%1]:%2").arg(s.serve.address.toString()).arg(s.serve.port)
                     : QStringLiteral("%1:%2").arg(s.serve.address.toString()).arg(s.serve.port));
    }
    if (s.json || s.jsonLines) {
        return QStringLiteral("serve prints its address as text: not --json or --json-lines");
    }
    return {};
}

} // namespace quenta::flash
