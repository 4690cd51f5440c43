#pragma once

#include <QByteArray>
#include <QCommandLineParser>
#include <QHostAddress>
#include <QStringList>

namespace quenta::flash {

struct Settings;

// How the serve command listens and whom it answers.
struct ServeSettings {
    QHostAddress address{QHostAddress::LocalHost};
    quint16 port = 8470; // 0: any free port
    QByteArray token;    // empty: none asked for (loopback only)
    QStringList hosts;   // --allow-host names, lower-case
};

// Reads --listen, --token-file and --allow-host: the mistake, if any. They are for serve only;
// an address other than loopback needs a token.
QString readServeOptions(const QCommandLineParser &parser, Settings &settings);

} // namespace quenta::flash
