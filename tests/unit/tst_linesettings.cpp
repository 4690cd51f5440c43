// Settings strings of the serial line: "baud,parity,data bits,stop bits".

#include "controls/LineSettings.h"

#include <QString>
#include <QTest>

using namespace quenta;

class TestLineSettings : public QObject {
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
};

void TestLineSettings::parse_data() {
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("expected"); // the fields read, or "refused"

    const auto row = [](const char *settings, const char *expected) {
        QTest::addRow("[%s]", settings)
            << QString::fromLatin1(settings) << QString::fromLatin1(expected);
    };
    row("115200,n,8,1", "115200,n,8,1");
    row("9600,E,7,2", "9600,e,7,2");
    row("19200,O,5,1", "19200,o,5,1");
    row("300,m,6,2", "300,m,6,2");
    row("921600,S,8,1", "921600,s,8,1");
    row("", "refused");
    row("9600,n,8", "refused");
    row("9600,n,8,1,1", "refused");
    row("9600,x,8,1", "refused");
    row("9600,none,8,1", "refused");
    row("0,n,8,1", "refused");
    row("fast,n,8,1", "refused");
    row("9600,n,4,1", "refused");
    row("9600,n,9,1", "refused");
    row("9600,n,8,0", "refused");
    row("9600,n,8,3", "refused");
    row("9600,n,8,1.5", "refused");
}

void TestLineSettings::parse() {
    QFETCH(QString, settings);
    QFETCH(QString, expected);

    const std::optional<LineSettings> line = parseLineSettings(settings);
    QCOMPARE(line ? QStringLiteral("%1,%2,%3,%4")
                        .arg(line->baud)
                        .arg(QChar(line->parity))
                        .arg(line->dataBits)
                        .arg(line->stopBits)
                  : QStringLiteral("refused"),
             expected);
}

QTEST_APPLESS_MAIN(TestLineSettings)
#include "tst_linesettings.moc"
