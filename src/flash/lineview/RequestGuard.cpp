#include "flash/lineview/RequestGuard.h"

#include "flash/lineview/http/HttpRequest.h"

#include <QCryptographicHash>

namespace quenta::flash {
namespace {

bool listensEverywhere(const QHostAddress &address) {
    return address == QHostAddress(QHostAddress::AnyIPv4) ||
           address == QHostAddress(QHostAddress::AnyIPv6) ||
           address == QHostAddress(QHostAddress::Any);
}

// Whether a Host header ("name", "name:port", "1.2.3.4:port", "[::1]:port") names this server.
bool isThisServer(const QByteArray &header, const RequestRules &rules) {
    const QString host = QString::fromLatin1(header).trimmed().toLower();
    QString name = host;
    QString port;
    if (host.startsWith(u'[')) {
        const qsizetype end = host.indexOf(u']');
        if (end < 0) {
            return false;
        }
        name = host.mid(1, end - 1);
        const QString rest = host.mid(end + 1);
        if (!rest.isEmpty() && !rest.startsWith(u':')) {
            return false;
        }
        port = rest.mid(1);
    } else if (const qsizetype colon = host.lastIndexOf(u':'); colon >= 0) {
        name = host.left(colon);
        port = host.mid(colon + 1);
    }
    if (!port.isEmpty() && port != QString::number(rules.port)) {
        return false;
    }
    const QHostAddress literal(name);
    if (!literal.isNull()) {
        return literal.isEqual(rules.address, QHostAddress::TolerantConversion) ||
               listensEverywhere(rules.address);
    }
    if (name == QLatin1String("localhost")) {
        return rules.address.isLoopback() || listensEverywhere(rules.address);
    }
    return rules.hosts.contains(name);
}

QByteArray lower(const QByteArray &text) {
    return text.toLower();
}

// The token a request presents: its bearer token, else its login cookie.
QByteArray presentedToken(const HttpRequest &request) {
    for (const auto &[name, value] : request.headers) {
        if (lower(name) == "authorization" && lower(value.left(7)) == "bearer ") {
            return value.mid(7).trimmed();
        }
    }
    for (const auto &[name, value] : request.headers) {
        if (lower(name) != "cookie") {
            continue;
        }
        for (const QByteArray &cookie : value.split(';')) {
            const QByteArray pair = cookie.trimmed();
            if (pair.startsWith(QByteArray(kTokenCookie) + '=')) {
                return QByteArray::fromPercentEncoding(pair.mid(sizeof(kTokenCookie)));
            }
        }
    }
    return {};
}

// Compares the digests of both, every byte: neither the length of the token nor the place of a
// first difference shows in the time taken.
bool sameSecret(const QByteArray &given, const QByteArray &expected) {
    const QByteArray a = QCryptographicHash::hash(given, QCryptographicHash::Sha256);
    const QByteArray b = QCryptographicHash::hash(expected, QCryptographicHash::Sha256);
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i) {
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return difference == 0;
}

} // namespace

std::optional<Refusal> refusalOf(const HttpRequest &request, const RequestRules &rules) {
    if (request.method != "GET" && request.method != "HEAD") {
        return Refusal{405, QStringLiteral("only GET and HEAD are answered: the view changes "
                                           "nothing")};
    }
    if (request.announcesBody) {
        return Refusal{400, QStringLiteral("a GET or HEAD request carries no body")};
    }
    const qsizetype question = request.target.indexOf('?');
    const qsizetype pathBytes = question < 0 ? request.target.size() : question;
    if (pathBytes > kMaxPathBytes || request.target.size() - pathBytes - 1 > kMaxQueryBytes) {
        return Refusal{414, QStringLiteral("the path or the query is too long")};
    }
    const auto headers = request.headers;
    qsizetype total = 0;
    int hosts = 0;
    bool known = false;
    for (const auto &[name, value] : headers) {
        const qsizetype size = name.size() + value.size();
        total += size;
        if (size > kMaxHeaderBytes) {
            return Refusal{431, QStringLiteral("a header is too long")};
        }
        if (lower(name) == "host") {
            ++hosts;
            known = isThisServer(value, rules);
        }
    }
    if (headers.size() > kMaxHeaders || total > kMaxHeadersBytes) {
        return Refusal{431, QStringLiteral("the headers are too many or too long")};
    }
    if (hosts != 1) {
        return Refusal{400, QStringLiteral("a request names its host once, in a Host header")};
    }
    if (!known) {
        return Refusal{421, QStringLiteral("the Host header names another server; a name by "
                                           "which this one is reached is given with "
                                           "--allow-host")};
    }
    return std::nullopt;
}

bool carriesToken(const HttpRequest &request, const RequestRules &rules) {
    return rules.token.isEmpty() || sameSecret(presentedToken(request), rules.token);
}

} // namespace quenta::flash
