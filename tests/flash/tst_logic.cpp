#include "flash/FlashOptions.h"
#include "flash/ProgressLine.h"
#include "flash/ResumePlan.h"

#include <QtTest>

using namespace quenta::flash;

class FlashLogic : public QObject {
    Q_OBJECT
private slots:
    // Records 0: address 0000, 1-4: data, 5: address 0001, 6-17: data, 18: end of file.
    void resume_data() {
        QTest::addColumn<bool>("verify");
        QTest::addColumn<int>("unanswered");
        QTest::addColumn<int>("addressRecord"); // -1: none
        QTest::addColumn<int>("from");
        QTest::newRow("download near the start") << false << 3 << -1 << 0;
        QTest::newRow("download governed by the second") << false << 16 << 5 << 8;
        QTest::newRow("download from an address record") << false << 13 << -1 << 5;
        QTest::newRow("download right after one") << false << 14 << 5 << 6;
        QTest::newRow("download in the first segment") << false << 10 << 0 << 2;
        QTest::newRow("verify goes on where it was") << true << 16 << 5 << 16;
        QTest::newRow("verify in the first segment") << true << 4 << 0 << 4;
        QTest::newRow("verify at an address record") << true << 5 << -1 << 5;
    }
    void resume() {
        QFETCH(bool, verify);
        QFETCH(int, unanswered);
        QFETCH(int, addressRecord);
        QFETCH(int, from);
        std::vector<std::string> records(19, ":0400000001020304F2");
        records[0] = ":020000040000FA";
        records[5] = ":020000040001F9";
        records[18] = ":00000001FF";
        const ResumePoint point = resumePoint(records, static_cast<std::size_t>(unanswered),
                                              verify ? Pass::Verify : Pass::Download);
        QCOMPARE(point.addressRecord ? static_cast<int>(*point.addressRecord) : -1, addressRecord);
        QCOMPARE(static_cast<int>(point.from), from);
    }

    // Each row: the arguments | a part of the usage error (none: the run goes ahead) | the
    // first port.
    void options_data() {
        QTest::addColumn<QString>("row");
        QTest::newRow("COMn") << "-p COM3 version||/dev/ttyS2";
        QTest::newRow("a path, addresses") << "-p /dev/ttyUSB0 -m -a 3,7 flash f.hex||/dev/ttyUSB0";
        QTest::newRow("ports alone") << "ports||";
        QTest::newRow("no command") << "-p COM1|no command|";
        QTest::newRow("unknown command") << "-p COM1 blink|unknown command|";
        QTest::newRow("flash without a file") << "-p COM1 flash|needs a FILE|";
        QTest::newRow("no port") << "version|needs --port|";
        QTest::newRow("speed") << "-b 1200 -p COM1 version|--baud|";
        QTest::newRow("address without Modbus") << "-a 3 -p COM1 version|needs --modbus|";
        QTest::newRow("two ports to install") << "-p COM1 -p COM2 install|several --port|";
        QTest::newRow("one port twice") << "-p COM1 -p /dev/ttyS0 check|given twice|";
        QTest::newRow("address 256") << "-p COM1 set-address 256|1 to 255|";
        QTest::newRow("new address for all") << "-m -a all -p COM1 set-address 5|one board|";
    }
    void options() {
        QFETCH(QString, row);
        const QStringList column = row.split(QLatin1Char('|'));
        const ParsedArguments parsed = parseArguments(QStringList{QStringLiteral("quenta-flash")} +
                                                      column[0].split(QLatin1Char(' ')));
        QVERIFY2(parsed.error.contains(column[1]), qPrintable(parsed.error));
        QCOMPARE(parsed.action == ParsedArguments::Action::Run, column[1].isEmpty());
        if (column[1].isEmpty()) {
            QCOMPARE(parsed.settings.ports.value(0), column[2]);
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
