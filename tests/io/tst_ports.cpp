// The ports offered to the operator: the system's, then each folder's entries sorted by name, then
// the demo board; broken links and missing folders left out, each port once.
#include "Pty.h"
#include "io/PortDiscovery.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace quenta;

class TestPorts : public QObject {
    Q_OBJECT
private slots:
    void listed() {
        testing::PtyPair pty;
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath("by-id"));
        for (const char *name : {"usb-B", "usb-A", "demo"}) {
            QVERIFY(QFile::link(pty.path(), root.filePath("by-id/") + name));
        }
        QVERIFY(QFile::link(root.filePath("gone"), root.filePath("by-id/stale")));
        QStringList found;
        for (const QString &port :
             discoverPorts({{root.filePath("by-id"), root.filePath("missing")},
                            root.filePath("by-id/demo")})) {
            found << port.section('/', -2);
        }
        QCOMPARE(found.mid(found.indexOf("by-id/demo")),
                 (QStringList{"by-id/demo", "by-id/usb-A", "by-id/usb-B"}));
    }
};

QTEST_APPLESS_MAIN(TestPorts)
#include "tst_ports.moc"
