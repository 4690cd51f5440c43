#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QStringList>

#include <optional>

namespace quenta::flash {

struct GivenOptions;
struct OptionValue;
struct Settings;

// How the serve command listens and whom it answers.
struct ServeSettings {
    QHostAddress address{QHostAddress::LocalHost};
    quint16 port = 8470;             // 0: any free port
    QByteArray token;                // empty: none asked for (loopback only)
    QStringList hosts;               // --allow-host names, lower-case
    QList<QSslCertificate> tlsChain; // --tls-cert: the server's certificate first; empty: HTTP
    // --tls-key. Made only when given: a key, even an empty one, loads the TLS library.
    std::optional<QSslKey> tlsKey;
};

// The readers of --listen, --token-file, --allow-host, --tls-cert and --tls-key (options of serve
// only): the mistake, if any.
QString readListen(const OptionValue &value, const GivenOptions &given, Settings &settings);
QString readTokenFile(const OptionValue &value, const GivenOptions &given, Settings &settings);
QString readAllowHost(const OptionValue &value, const GivenOptions &given, Settings &settings);
QString readTlsCert(const OptionValue &value, const GivenOptions &given, Settings &settings);
QString readTlsKey(const OptionValue &value, const GivenOptions &given, Settings &settings);

// What serve's settings say together: a recipe names the journal, an address other than loopback
// needs a token, and the address is printed as text. The mistake, if any.
QString checkServe(const Settings &settings);

} // namespace quenta::flash
