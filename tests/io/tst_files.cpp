// Reading a firmware file: only regular files, never blocking, never more than the bound. The
// ports offered to the operator: the system's, then each folder's entries sorted by name, then the
// demo board; broken links and missing folders left out, each port once. The device a port name
// stands for, and the latency timer of the adapter behind a device.
#include "io/FirmwareFile.h"
#include "io/port/AdapterLatency.h"
#include "io/port/ControlError.h"
#include "io/port/PortDiscovery.h"
#include "io/port/PortPath.h"

#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <sys/stat.h>

using namespace quenta;

namespace {
bool writeFile(const QString &path, const QByteArray &content) {
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) &&
           file.write(content) == content.size();
}
} // namespace

class TestFiles : public QObject {
    Q_OBJECT
private slots:
    void read_data() {
        QTest::addColumn<QString>("path");       // relative: made in a scratch folder
        QTest::addColumn<QByteArray>("content"); // written there
        QTest::addColumn<int>("number");         // 0: read whole
        QTest::addColumn<QString>("detail");     // after the system's description
        QTest::newRow("missing") << "gone.hex" << QByteArray() << ENOENT << "";
        QTest::newRow("folder") << "." << QByteArray() << EISDIR << "";
        QTest::newRow("endless device")
            << "/dev/zero" << QByteArray() << EINVAL << ": /dev/zero is not a regular file";
        QTest::newRow("FIFO nobody writes to")
            << "fifo.hex" << QByteArray() << EINVAL << "/fifo.hex is not a regular file";
        QTest::newRow("one byte over the bound")
            << "big.hex" << QByteArray(1025, ':') << EFBIG
            << "/big.hex holds more than 1024 bytes; no firmware file is that large";
        QTest::newRow("at the bound, NULs and all")
            << "f.hex" << QByteArray(":00000001FF\r\n").repeated(78) + QByteArray(10, '\0') << 0
            << "";
    }

    void read() {
        QFETCH(QString, path);
        QFETCH(QByteArray, content);
        QFETCH(int, number);
        QFETCH(QString, detail);
        QTemporaryDir dir;
        const QString file = QDir::isAbsolutePath(path) ? path : dir.filePath(path);
        if (path == "fifo.hex") {
            QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
        } else if (!content.isEmpty()) {
            QVERIFY(writeFile(file, content));
        }
        try {
            const std::string read = readFirmwareFile(file, 1024);
            QCOMPARE(number, 0);
            QCOMPARE(QByteArray::fromStdString(read), content);
        } catch (const ControlError &error) {
            QCOMPARE(error.number(), number);
            QVERIFY2(error.description().endsWith(detail), qPrintable(error.description()));
            QVERIFY(error.description().size() > detail.size());
        }
    }

    void listed() {
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath("by-id"));
        for (const char *name : {"usb-B", "usb-A", "demo"}) {
            QVERIFY(QFile::link("/dev/null", root.filePath("by-id/") + name));
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

    void portPath() {
        const std::pair<const char *, std::optional<QString>> names[] = {
            {"COM1", "/dev/ttyS0"}, {"com12", "/dev/ttyS11"}, {"COM0", std::nullopt},
            {"", std::nullopt},     {"COMX", "COMX"},         {"/dev/ttyUSB0", "/dev/ttyUSB0"}};
        for (const auto &[name, path] : names) {
            QCOMPARE(portPathFor(name), path);
        }
    }

    // A fake system tree: ttyUSB3 shows 16 ms, ttyUSB5 (behind a by-id link) 1 ms, ttyS0 nothing.
    void adapterLatency() {
        QTemporaryDir root;
        const QString devices = root.filePath("sys/bus/usb-serial/devices/");
        QVERIFY(writeFile(devices + "ttyUSB3/latency_timer", "16\n"));
        QVERIFY(writeFile(devices + "ttyUSB5/latency_timer", "1\n"));
        QVERIFY(writeFile(root.filePath("dev/ttyUSB5"), {}));
        QVERIFY(QFile::link(root.filePath("dev/ttyUSB5"), root.filePath("usb-FTDI-if00-port0")));
        QCOMPARE(adapterLatencyMs("/dev/ttyUSB3", root.filePath("sys")), 16);
        QCOMPARE(adapterLatencyMs(root.filePath("usb-FTDI-if00-port0"), root.filePath("sys")), 1);
        QCOMPARE(adapterLatencyMs("/dev/ttyS0", root.filePath("sys")), std::nullopt);
    }
};

QTEST_APPLESS_MAIN(TestFiles)
#include "tst_files.moc"
