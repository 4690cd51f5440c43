#include "flash/lineview/ServeCommand.h"

#include "flash/frame/Report.h"
#include "flash/lineview/JournalThread.h"
#include "flash/lineview/LineServer.h"
#include "flash/lineview/http/ConnectionLimits.h"
#include "io/system/StopSignals.h"

#include <QCoreApplication>
#include <QSslSocket>

#include <cstdio>

namespace quenta::flash {
namespace {

constexpr int kCannotListen = 3;

QString urlOf(bool tls, const QHostAddress &address, quint16 port) {
    const bool ipv6 = address.protocol() == QAbstractSocket::IPv6Protocol;
    return QStringLiteral("%1://%2%3%4:%5/")
        .arg(tls ? QStringLiteral("https") : QStringLiteral("http"),
             ipv6 ? QStringLiteral("[") : QString(), address.toString(),
             ipv6 ? QStringLiteral("]") : QString())
        .arg(port);
}

std::optional<QSslConfiguration> tlsOf(const ServeSettings &settings) {
    if (settings.tlsChain.isEmpty()) {
        return std::nullopt;
    }
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificateChain(settings.tlsChain);
    tls.setPrivateKey(settings.tlsKey.value_or(QSslKey()));
    tls.setPeerVerifyMode(QSslSocket::VerifyNone); // browsers bring no certificate
    tls.setProtocol(QSsl::TlsV1_2OrLater);
    return tls;
}

} // namespace

int serveJournal(const JournalPlace &place, const ServeSettings &settings) {
    // Opened here once, so that a journal that cannot be read is refused before anything listens;
    // the journal's thread opens its own.
    if (auto opened = Journal::openReadOnly(place); !opened) {
        RunReport failure;
        failure.command = QStringLiteral("serve");
        failure.problems << opened.error;
        return printReport(failure, ReportForm::Text);
    }
    const std::optional<QSslConfiguration> tls = tlsOf(settings);
    const QString url = urlOf(tls.has_value(), settings.address, settings.port);
    if (tls && !QSslSocket::supportsSsl()) {
        std::fprintf(stderr, "quenta-flash: cannot listen on %s: this machine has no TLS library\n",
                     qPrintable(url));
        return kCannotListen;
    }
    ConnectionLimits listener(tls);
    if (!listener.listen(settings.address, settings.port)) {
        std::fprintf(stderr, "quenta-flash: cannot listen on %s: %s\n", qPrintable(url),
                     qPrintable(listener.errorString()));
        return kCannotListen;
    }
    const quint16 port = listener.serverPort();
    JournalThread journal(place);
    LineServer server({settings.address, port, settings.hosts, settings.token}, journal, &listener);
    std::printf("Serving the journal %s, read only, at\n%s\nuntil Ctrl+C.\n",
                qPrintable(place.shown()),
                qPrintable(urlOf(tls.has_value(), settings.address, port)));
    std::fflush(stdout);
    onStopSignals(QCoreApplication::instance(), [](int) { QCoreApplication::exit(0); });
    return QCoreApplication::exec();
}

} // namespace quenta::flash
