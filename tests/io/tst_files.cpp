// Reading a firmware file: only regular files, never blocking, never more than the bound.
#include "io/ControlError.h"
#include "io/FirmwareFile.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <sys/stat.h>

using namespace quenta;

class TestFiles : public QObject {
    Q_OBJECT
private slots:
    void refused_data() {
        QTest::addColumn<QString>("path"); // relative: made in a scratch folder
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("detail"); // after the system's description
        QTest::newRow("missing") << "gone.hex" << ENOENT << "";
        QTest::newRow("folder") << "." << EISDIR << "";
        QTest::newRow("endless device")
            << "/dev/zero" << EINVAL << ": /dev/zero is not a regular file";
        QTest::newRow("FIFO nobody writes to")
            << "fifo.hex" << EINVAL << "/fifo.hex is not a regular file";
        QTest::newRow("one byte over the bound")
            << "big.hex" << EFBIG
            << "/big.hex holds more than 1024 bytes; no firmware file is that large";
    }

    void refused() {
        QFETCH(QString, path);
        QFETCH(int, number);
        QFETCH(QString, detail);
        QTemporaryDir dir;
        const QString file = QDir::isAbsolutePath(path) ? path : dir.filePath(path);
        if (path == "fifo.hex") {
            QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
        } else if (path == "big.hex") {
            QFile big(file);
            QVERIFY(big.open(QIODevice::WriteOnly) && big.write(QByteArray(1025, ':')) == 1025);
        }
        try {
            readFirmwareFile(file, 1024);
            QFAIL("the file was read");
        } catch (const ControlError &error) {
            QCOMPARE(error.number(), number);
            QVERIFY2(error.description().endsWith(detail), qPrintable(error.description()));
            QVERIFY(error.description().size() > detail.size());
        }
    }

    void readWhole() {
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("f.hex")));
        const QByteArray content = QByteArray(":00000001FF\r\n").repeated(78) + QByteArray(2, '\0');
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == 1016);
        file.close();
        QCOMPARE(QByteArray::fromStdString(readFirmwareFile(file.fileName(), 1016)), content);
    }
};

QTEST_APPLESS_MAIN(TestFiles)
#include "tst_files.moc"
