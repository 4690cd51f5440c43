// Settings strings of the serial line: "baud,parity,data bits,stop bits".

#include "controls/LineSettings.h"

#include <QString>
#include <QTest>

using namespace quenta;

class TestLineSettings : public QObject {
    Q_OBJECT

private slots:
    void accepted_data();
    void accepted();
    void refused_data();
    void refused();
};

void TestLineSettings::accepted_data() {
    QTest::addColumn<QString>("settings");
    QTest::addColumn<int>("baud");
    QTest::addColumn<QChar>("parity");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("stopBits");

    QTest::newRow("115200,n,8,1") << QStringLiteral("115200,n,8,1") << 115200 << QChar('n') << 8
                                  << 1;
    QTest::newRow("9600,e,7,2") << QStringLiteral("9600,e,7,2") << 9600 << QChar('e') << 7 << 2;
    QTest::newRow("19200,o,5,1") << QStringLiteral("19200,o,5,1") << 19200 << QChar('o') << 5 << 1;
    QTest::newRow("300,m,6,2") << QStringLiteral("300,m,6,2") << 300 << QChar('m') << 6 << 2;
    QTest::newRow("57600,s,8,1") << QStringLiteral("57600,s,8,1") << 57600 << QChar('s') << 8 << 1;
    QTest::newRow("upper-case N") << QStringLiteral("9600,N,8,1") << 9600 << QChar('n') << 8 << 1;
    QTest::newRow("upper-case E") << QStringLiteral("4800,E,8,2") << 4800 << QChar('e') << 8 << 2;
    QTest::newRow("upper-case O") << QStringLiteral("2400,O,7,1") << 2400 << QChar('o') << 7 << 1;
    QTest::newRow("upper-case M") << QStringLiteral("1200,M,8,1") << 1200 << QChar('m') << 8 << 1;
    QTest::newRow("upper-case S") << QStringLiteral("600,S,8,1") << 600 << QChar('s') << 8 << 1;
    QTest::newRow("921600") << QStringLiteral("921600,n,8,1") << 921600 << QChar('n') << 8 << 1;
}

void TestLineSettings::accepted() {
    QFETCH(QString, settings);
    QFETCH(int, baud);
    QFETCH(QChar, parity);
    QFETCH(int, dataBits);
    QFETCH(int, stopBits);

    const std::optional<LineSettings> parsed = parseLineSettings(settings);
    QVERIFY(parsed.has_value());
    QCOMPARE(parsed->baud, baud);
    QCOMPARE(QChar(parsed->parity), parity);
    QCOMPARE(parsed->dataBits, dataBits);
    QCOMPARE(parsed->stopBits, stopBits);
}

void TestLineSettings::refused_data() {
    QTest::addColumn<QString>("settings");

    QTest::newRow("empty") << QString();
    QTest::newRow("baud only") << QStringLiteral("9600");
    QTest::newRow("three fields") << QStringLiteral("9600,n,8");
    QTest::newRow("five fields") << QStringLiteral("9600,n,8,1,1");
    QTest::newRow("unknown parity") << QStringLiteral("9600,x,8,1");
    QTest::newRow("parity word") << QStringLiteral("9600,none,8,1");
    QTest::newRow("no parity") << QStringLiteral("9600,,8,1");
    QTest::newRow("zero baud") << QStringLiteral("0,n,8,1");
    QTest::newRow("negative baud") << QStringLiteral("-9600,n,8,1");
    QTest::newRow("baud not a number") << QStringLiteral("fast,n,8,1");
    QTest::newRow("nine data bits") << QStringLiteral("9600,n,9,1");
    QTest::newRow("four data bits") << QStringLiteral("9600,n,4,1");
    QTest::newRow("three stop bits") << QStringLiteral("9600,n,8,3");
    QTest::newRow("no stop bits") << QStringLiteral("9600,n,8,0");
    QTest::newRow("one and a half stop bits") << QStringLiteral("9600,n,8,1.5");
    QTest::newRow("semicolons") << QStringLiteral("9600;n;8;1");
}

void TestLineSettings::refused() {
    QFETCH(QString, settings);

    QVERIFY(!parseLineSettings(settings).has_value());
}

QTEST_APPLESS_MAIN(TestLineSettings)
#include "tst_linesettings.moc"
