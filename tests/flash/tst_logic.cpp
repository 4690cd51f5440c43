#include "flash/FlashOptions.h"
#include "flash/Manual.h"
#include "flash/Progress.h"

#include <QtTest>

using namespace quenta;
using namespace quenta::flash;

class FlashLogic : public QObject {
    Q_OBJECT
private slots:
    // Each row: the arguments | a part of the usage error (none: the run goes ahead) | the
    // first port.
    void options_data() {
        QTest::addColumn<QString>("row");
        QTest::newRow("COMn") << "-p COM3 version||/dev/ttyS2";
        QTest::newRow("a path, addresses") << "-p /dev/ttyUSB0 -m -a 3,7 flash f.hex||/dev/ttyUSB0";
        QTest::newRow("ports alone") << "ports||";
        QTest::newRow("no command") << "-p COM1|no command|";
        QTest::newRow("unknown command") << "-p COM1 blink|unknown command|";
        QTest::newRow("flash without a file") << "-p COM1 flash|flash needs a FILE|";
        QTest::newRow("flash with two files") << "-p COM1 flash a b|takes one FILE, not 2 words|";
        QTest::newRow("unknown option") << "--bogus -p COM1 version|unknown option --bogus|";
        QTest::newRow("unknown short option") << "-Z -p COM1 version|unknown option -Z|";
        QTest::newRow("one address three times") << "-m -a 3,3,3 -p COM1 flash f|different|";
        QTest::newRow("address 0") << "-p COM1 set-address 0|1 to 255|";
        QTest::newRow("no port") << "version|needs --port|";
        QTest::newRow("speed") << "-b 1200 -p COM1 version|--baud|";
        QTest::newRow("address without Modbus") << "-a 3 -p COM1 version|needs --modbus|";
        QTest::newRow("two ports to install") << "-p COM1 -p COM2 install|several --port|";
        QTest::newRow("one port twice") << "-p COM1 -p /dev/ttyS0 check|given twice|";
        QTest::newRow("address 256") << "-p COM1 set-address 256|1 to 255|";
        QTest::newRow("new address for all") << "-m -a all -p COM1 set-address 5|one board|";
        QTest::newRow("a USB serial number") << "-p usb:A50285BI version||usb:A50285BI";
        QTest::newRow("no USB serial number") << "-p usb: version|is no port|";
        QTest::newRow("numbers without a journal")
            << "--no-journal --serial-at 0x100 -p COM1 flash f.hex|needs a journal|";
        QTest::newRow("numbers to verify") << "--serial-at 0x100 -p COM1 verify f.hex|flash only|";
        QTest::newRow("a start without an address") << "--serial-start 5 -p COM1 flash f|needs "
                                                       "--serial-at|";
        QTest::newRow("a start too large for its bytes")
            << "--serial-at 0 --serial-bytes 1 --serial-start 256 -p COM1 flash f|does not fit|";
        QTest::newRow("bytes past 4 GiB")
            << "--serial-at 0xFFFFFFFE -p COM1 flash f|reach past the 4 GiB|";
        QTest::newRow("bad format") << "--serial-at 1 --serial-format LE -p COM1 flash f|le, be|";
        QTest::newRow("retlw words at an odd address")
            << "--serial-at 0x7F01 --serial-format retlw -p COM1 flash f|an even address|";
        QTest::newRow("no journal URL") << "-J jobs.sqlite -p COM1 install|is no journal URL|";
        QTest::newRow("log without journal") << "--no-journal log|cannot be given --no-journal|";
        QTest::newRow("log to a port") << "-p COM1 log|takes no --port|";
        QTest::newRow("log filters") << "log --since 2024-05-01 --result running --limit 0||";
        QTest::newRow("log since when") << "log --since yesterday|--since must be|";
        QTest::newRow("log result") << "log --result fine|--result must be one of|";
        QTest::newRow("a filter to flash") << "--csv -p COM1 flash f|--csv is for log only|";
    }
    void options() {
        QFETCH(QString, row);
        const QStringList column = row.split(QLatin1Char('|'));
        const ParsedArguments parsed = parseArguments(QStringList{QStringLiteral("quenta-flash")} +
                                                      column[0].split(QLatin1Char(' ')));
        QVERIFY2(parsed.error.contains(column[1]), qPrintable(parsed.error));
        if (column[0].contains(QLatin1String("version"))) {
            QCOMPARE(parsed.command, QStringLiteral("version"));
        }
        QCOMPARE(parsed.action == ParsedArguments::Action::Run, column[1].isEmpty());
        if (column[1].isEmpty()) {
            QCOMPARE(parsed.settings.ports.value(0), column[2]);
        }
    }

    void helpFits() {
        for (const QString &line : helpText().split(QLatin1Char('\n'))) {
            QVERIFY2(line.size() <= 80, qPrintable(line));
        }
    }

    void progress() {
        QCOMPARE(progressLine({QStringLiteral("P"), Pass::Download, false, 120, 1200, 6.0}),
                 QStringLiteral("P  download   120/1200   10%  20 lines/s  1:54 left"));
        QCOMPARE(progressLine({QStringLiteral("P"), Pass::Verify, true, 120, 1200, 6.0}),
                 QStringLiteral("P  verify     120/1200   10%  20 lines/s  0:54 left"));
    }
};

QTEST_GUILESS_MAIN(FlashLogic)
#include "tst_logic.moc"
