// The ports offered to the operator: what is listed for given folders.
#include "Pty.h"
#include "io/PortDiscovery.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace quenta;
using namespace quenta::testing;

class TestPorts : public QObject {
    Q_OBJECT
private slots:
    void listed_data();
    void listed();
};

void TestPorts::listed_data() {
    QTest::addColumn<QStringList>("links"); // in by-id; stale-* lead nowhere, the others to a pty
    QTest::addColumn<QString>("demo");      // the demo board's link, made unless it is empty
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("folder sorted, broken link left out")
        << QStringList{"usb-B", "usb-A", "stale-usb-C"} << QString()
        << QStringList{"by-id/usb-A", "by-id/usb-B"};
    QTest::newRow("demo board after the folder")
        << QStringList{"usb-A"} << "run/demo" << QStringList{"by-id/usb-A", "run/demo"};
    QTest::newRow("demo board in the folder, once")
        << QStringList{} << "by-id/demo" << QStringList{"by-id/demo"};
}

void TestPorts::listed() {
    QFETCH(QStringList, links);
    QFETCH(QString, demo);
    QFETCH(QStringList, expected);
    PtyPair pty;
    QTemporaryDir root;
    QVERIFY(QDir(root.path()).mkpath("by-id") && QDir(root.path()).mkpath("run"));
    for (const QString &name : links) {
        const QString target = name.startsWith("stale-") ? root.filePath("gone") : pty.path();
        QVERIFY(QFile::link(target, root.filePath("by-id/" + name)));
    }
    if (!demo.isEmpty()) {
        QVERIFY(QFile::link(pty.path(), root.filePath(demo)));
    }
    const PortPlaces places{{root.filePath("by-id"), root.filePath("missing")},
                            root.filePath(demo.isEmpty() ? "run/demo" : demo)};
    QStringList found;
    for (const QString &port : discoverPorts(places)) {
        if (port.startsWith(root.path())) {
            found << port.mid(root.path().size() + 1);
        }
    }
    QCOMPARE(found, expected);
}

QTEST_APPLESS_MAIN(TestPorts)
#include "tst_ports.moc"
