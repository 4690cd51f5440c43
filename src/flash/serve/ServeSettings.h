#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QStringList>

namespace quenta::flash {

struct GivenOptions;
struct OptionValue;
struct Settings;

// How the serve command listens and whom it answers.
struct ServeSettings {
    QHostAddress address{QHostAddress::LocalHost};
    quint16 port = 8470; // 0: any free port
    QByteArray token;    // empty: none asked for (loopback only)
    QStringList hosts;   // --allow-host names, lower-case
};

// The readers of --listen, --token-file and --allow-host (options of serve only): the mistake, if
// any.
QString readListen(const OptionValue &value, const GivenOptions &given, Settings &settings);
QString readTokenFile(const OptionValue &value, const GivenOptions &given, Settings &settings);
QString readAllowHost(const OptionValue &value, const GivenOptions &given, Settings &settings);

// What serve's settings say together: a recipe names the journal, an address other than loopback
// needs a token, and the address is printed as text. The mistake, if any.
QString checkServe(const Settings &settings);

} // namespace quenta::flash
