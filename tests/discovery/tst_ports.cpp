// The ports offered for the port box: what is listed for given folders, and how a box with
// discovery attached completes what the operator types.
#include "Pty.h"
#include "controls/PortDiscovery.h"

#include <QAbstractItemModel>
#include <QCompleter>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QWidget>
#include <QtTest>

using namespace quenta;
using namespace quenta::testing;

namespace {

// The listed paths that lie under root, relative to it; the system's own ports are left out.
QStringList under(const QTemporaryDir &root, const QStringList &ports) {
    QStringList relative;
    const QString prefix = root.path() + QLatin1Char('/');
    for (const QString &port : ports) {
        if (port.startsWith(prefix)) {
            relative.append(port.mid(prefix.size()));
        }
    }
    return relative;
}

QStringList allRows(const QAbstractItemModel *model) {
    QStringList rows;
    for (int row = 0; row < model->rowCount(); ++row) {
        rows.append(model->index(row, 0).data().toString());
    }
    return rows;
}

// A window with a port box and a second box to take the focus away from it.
struct BoxBench {
    explicit BoxBench(PortPlaces places) {
        auto *layout = new QVBoxLayout(&window);
        box = new QLineEdit(QStringLiteral("COM3"), &window);
        other = new QLineEdit(&window);
        layout->addWidget(box);
        layout->addWidget(other);
        discovery = new PortDiscovery(box, std::move(places));
        other->setFocus();
        window.show();
    }
    bool ready() {
        QApplication::setActiveWindow(&window);
        return QTest::qWaitForWindowActive(&window);
    }
    void focusBox() {
        other->setFocus();
        box->setFocus();
    }

    QWidget window;
    QLineEdit *box;
    QLineEdit *other;
    PortDiscovery *discovery;
};

} // namespace

class PortsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void defaultPlaces_data();
    void defaultPlaces();
    void listed_data();
    void listed();
    void completesWhatIsTyped_data();
    void completesWhatIsTyped();

private:
    Pty pty_;
};

void PortsTest::initTestCase() {
    QVERIFY2(!pty_.path().isEmpty(), "no pseudo-terminal");
}

void PortsTest::defaultPlaces_data() {
    QTest::addColumn<QByteArray>("runtime");
    QTest::addColumn<bool>("set");
    QTest::addColumn<QString>("demoBoard");
    QTest::newRow("runtime folder") << QByteArray("/run/user/1000") << true
                                    << QStringLiteral("/run/user/1000/quenta-demo-board");
    QTest::newRow("no runtime folder")
        << QByteArray() << false << QStringLiteral("/tmp/quenta-demo-board");
    QTest::newRow("empty runtime folder")
        << QByteArray() << true << QStringLiteral("/tmp/quenta-demo-board");
}

void PortsTest::defaultPlaces() {
    QFETCH(QByteArray, runtime);
    QFETCH(bool, set);
    QFETCH(QString, demoBoard);
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    const bool wasSet = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
    if (set) {
        qputenv("XDG_RUNTIME_DIR", runtime);
    } else {
        qunsetenv("XDG_RUNTIME_DIR");
    }
    const PortPlaces places = defaultPortPlaces();
    if (wasSet) {
        qputenv("XDG_RUNTIME_DIR", saved);
    } else {
        qunsetenv("XDG_RUNTIME_DIR");
    }
    QCOMPARE(places.folders, QStringList{QStringLiteral("/dev/serial/by-id")});
    QCOMPARE(places.demoBoard, demoBoard);
}

void PortsTest::listed_data() {
    QTest::addColumn<bool>("folder");
    // Links made in the folder; those named stale-* lead nowhere, the others to a terminal.
    QTest::addColumn<QStringList>("links");
    // The demo board's path relative to the scratch root, and whether its link is made.
    QTest::addColumn<QString>("demo");
    QTest::addColumn<bool>("demoMade");
    QTest::addColumn<QStringList>("expected");

    const QString demo = QStringLiteral("run/quenta-demo-board");
    QTest::newRow("folder sorted by name")
        << true << QStringList{"usb-FTDI_B-port0", "usb-FTDI_A-port0"} << demo << false
        << QStringList{"by-id/usb-FTDI_A-port0", "by-id/usb-FTDI_B-port0"};
    QTest::newRow("broken link left out")
        << true << QStringList{"usb-FTDI_A-port0", "stale-usb-FTDI_B-port0"} << demo << false
        << QStringList{"by-id/usb-FTDI_A-port0"};
    QTest::newRow("no such folder") << false << QStringList{} << demo << false << QStringList{};
    QTest::newRow("demo board") << true << QStringList{} << demo << true << QStringList{demo};
    QTest::newRow("demo board after the folder")
        << true << QStringList{"usb-FTDI_A-port0"} << demo << true
        << QStringList{"by-id/usb-FTDI_A-port0", demo};
    QTest::newRow("demo board in the folder, once")
        << true << QStringList{} << QStringLiteral("by-id/quenta-demo-board") << true
        << QStringList{"by-id/quenta-demo-board"};
}

void PortsTest::listed() {
    QFETCH(bool, folder);
    QFETCH(QStringList, links);
    QFETCH(QString, demo);
    QFETCH(bool, demoMade);
    QFETCH(QStringList, expected);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QDir dir(root.path());
    QVERIFY(dir.mkpath(QStringLiteral("run")));
    if (folder) {
        QVERIFY(dir.mkpath(QStringLiteral("by-id")));
    }
    for (const QString &name : links) {
        const QString target = name.startsWith(QStringLiteral("stale-"))
                                   ? root.filePath(QStringLiteral("unplugged"))
                                   : pty_.path();
        QVERIFY(QFile::link(target, root.filePath(QStringLiteral("by-id/") + name)));
    }
    if (demoMade) {
        QVERIFY(QFile::link(pty_.path(), root.filePath(demo)));
    }

    const PortPlaces places{{root.filePath(QStringLiteral("by-id"))}, root.filePath(demo)};
    QCOMPARE(under(root, discoverPorts(places)), expected);
}

void PortsTest::completesWhatIsTyped_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("offered");
    QTest::newRow("any case") << QStringLiteral("ftdi") << QStringList{"usb-FTDI_A-if00-port0"};
    QTest::newRow("inside the name")
        << QStringLiteral("if00")
        << QStringList{"usb-FTDI_A-if00-port0", "usb-Prolific_B-if00-port0"};
    QTest::newRow("nothing like it") << QStringLiteral("COM3") << QStringList{};
}

void PortsTest::completesWhatIsTyped() {
    QFETCH(QString, typed);
    QFETCH(QStringList, offered);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    for (const char *name : {"usb-FTDI_A-if00-port0", "usb-Prolific_B-if00-port0"}) {
        QVERIFY(QFile::link(pty_.path(), root.filePath(QString::fromLatin1(name))));
    }
    BoxBench bench({{root.path()}, {}});
    QVERIFY(bench.ready());
    bench.focusBox();
    bench.box->clear();
    QTest::keyClicks(bench.box, typed);

    QCompleter *completer = bench.discovery->completer();
    QCOMPARE(bench.box->completer(), completer);
    QStringList expected;
    for (const QString &name : offered) {
        expected.append(root.filePath(name));
    }
    QCOMPARE(allRows(completer->completionModel()), expected);
    QCOMPARE(bench.box->text(), typed);
}

QTEST_MAIN(PortsTest)
#include "tst_ports.moc"
