#include "flash/frame/FlashOptions.h"
#include "flash/frame/Manual.h"
#include "flash/frame/Recipe.h"
#include "flash/jobs/Progress.h"
#include "flash/journal/RecipeCheck.h"

#include <QTest>

using namespace quenta;
using namespace quenta::flash;

namespace {

// Command lines, one a line (a line that ends with \ goes on in the next): the arguments | a part
// of the usage error (none: the run goes ahead) | the first port.
const char *const kOptions = R"(-p COM3 version||/dev/ttyS2
-p /dev/ttyUSB0 -m -a 3,7 flash f.hex||/dev/ttyUSB0
ports||
-p COM1|no command|
-p COM1 blink|unknown command|
-p COM1 flash|flash needs a FILE|
-p COM1 flash a b|takes one FILE, not 2 words|
--bogus -p COM1 version|unknown option --bogus|
-Z -p COM1 version|unknown option -Z|
-m -a 3,3,3 -p COM1 flash f|different|
-p COM1 set-address 0|1 to 255|
version|needs --port|
-b 1200 -p COM1 version|--baud|
-a 3 -p COM1 version|needs --modbus|
-p COM1 -p COM2 install|several --port|
-p COM1 -p /dev/ttyS0 check|given twice|
-p COM1 set-address 256|1 to 255|
-m -a all -p COM1 set-address 5|one board|
-m -a 9-2 -p COM1 flash f|range N-M|
-a 3,7 -p COM1 scan|scan takes a range|
-p usb:A50285BI version||usb:A50285BI
-p usb: version|is no port|
--no-journal --serial-at 0x100 -p COM1 flash f.hex|needs a journal|
--serial-at 0x100 -p COM1 verify f.hex|flash only|
--serial-start 5 -p COM1 flash f|needs --serial-at|
--serial-at 0 --serial-bytes 1 --serial-start 256 -p COM1 flash f|does not fit|
--serial-at 0xFFFFFFFE -p COM1 flash f|reach past the 4 GiB|
--serial-at 1 --serial-format LE -p COM1 flash f|le, be|
--serial-at 0x7F01 --serial-format retlw -p COM1 flash f|an even address|
-J jobs.sqlite -p COM1 install|is no journal URL|
--no-journal log|cannot be given --no-journal|
-p COM1 log|takes no --port|
log --since 2024-05-01 --result running --limit 0||
log --since yesterday|--since must be|
log --result fine|--result must be one of|
--csv -p COM1 flash f|--csv is for log only|
serve --listen 0.0.0.0:8470|--listen 0.0.0.0:8470 is reachable from other machines: give \
--token-file FILE|
serve --listen [::]:8470|--listen [::]:8470 is reachable|
serve --listen localhost:8470|--listen must be ADDR:PORT with an IP address|
serve --listen 127.0.0.1|must be ADDR:PORT|
serve --listen 127.0.0.1:65536|must be ADDR:PORT|
serve --token-file /nonexistent/t|--token-file /nonexistent/t cannot be read|
serve --token-file /dev/null|--token-file /dev/null holds no token|
serve --allow-host a/b|--allow-host "a/b" is no host name|
serve --tls-cert /dev/null|--tls-cert and --tls-key are given together|
serve --tls-cert /dev/null --tls-key /dev/null|--tls-cert /dev/null holds no PEM certificate|
log --listen 127.0.0.1:1|--listen is for serve only|
serve --no-journal|serve reads the journal: it cannot be given --no-journal|
serve -p /dev/ttyS0|serve takes no --port|)";

} // namespace

class FlashLogic : public QObject {
    Q_OBJECT
private slots:
    void options_data() {
        QTest::addColumn<QString>("row");
        for (const QString &row : QString(kOptions).replace("\\\n", "").split('\n')) {
            QTest::newRow(qPrintable(row.section('|', 0, 0))) << row;
        }
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

    // The boards of a bus: given ones, or those that a scan of a range finds.
    void addresses_data() {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("boards"); // "first 1-127", "list 3 7", "range 2-9"
        for (const auto &[given, boards] :
             {std::pair("", "first 1-127"), std::pair("5", "list 5"),
              std::pair("3,7, 12", "list 3 7 12"), std::pair("all", "range 1-127"),
              std::pair("2-9", "range 2-9"), std::pair("200-200", "range 200-200")}) {
            QTest::addRow("[%s]", given) << QString(given) << QString(boards);
        }
    }
    void addresses() {
        QFETCH(QString, given);
        QFETCH(QString, boards);
        QStringList arguments{"quenta-flash", "-m", "-p", "COM1", "scan"};
        if (!given.isEmpty()) {
            arguments << "-a" << given;
        }
        const AddressChoice choice = parseArguments(arguments).settings.addresses;
        QString seen = choice.kind == AddressChoice::Kind::List
                           ? QStringLiteral("list")
                           : QStringLiteral("%1 %2-%3")
                                 .arg(choice.kind == AddressChoice::Kind::First ? "first" : "range")
                                 .arg(choice.from)
                                 .arg(choice.to);
        for (const std::uint8_t address : choice.list) {
            seen += ' ' + QString::number(address);
        }
        QCOMPARE(seen, boards);
    }

    // A recipe is written to a folder as r.toml: these five lines, then the row's own. Each row:
    // its lines | the arguments after --recipe r.toml (R: the recipe's path) | a part of the usage
    // error (none: the run goes ahead) | for a run: the settings that show the recipe's pins.
    void recipes_data() {
        QTest::addColumn<QString>("lines");
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("pinned");
        const auto row = [](const char *name, const QString &lines, const char *arguments,
                            const char *error, const char *pinned = "") {
            QTest::newRow(name) << lines << QString(arguments) << QString(error) << QString(pinned);
        };
        const QString link = "[link]\nbaud = 19200\nmodbus = true\naddresses = [3, 7]\n";
        row("pins the link", link, "-p COM1 flash", "", "19200 modbus 3,7 1000 @/blink.hex");
        row("a whole line, the serial numbers, the journal",
            "[board]\nversion = 'VER=4\\.1'\n[link]\nusb = true\ntimeout = 400\n"
            "wait = 2.5\n[serial]\nat = 0x7FF0\nformat = \"retlw\"\n"
            "[journal]\nurl = \"sqlite:j.sqlite\"\nstation = \"jig-1\"\n",
            "-p COM1 --operator ana flash", "",
            "115200 usb 400 2500 serial 0x7FF0 retlw sqlite:@/j.sqlite jig-1 ana");
        row("a check without a board", link, "check", "", "19200 modbus 3,7 1000");
        row("a pinned option given", link, "-b 9600 -p COM1 flash",
            "--baud cannot be given: the recipe R (line 7, link.baud) pins it");
        row("a pinned station given", "[journal]\nstation = \"jig-1\"\n",
            "--station jig-2 -p COM1 flash",
            "--station cannot be given: the recipe R (line 7, journal.station) pins it");
        row("an option left to its default given", link, "--retries 5 -p COM1 flash",
            "--retries cannot be given with a recipe: the recipe R holds a product's settings");
        row("a file beside the recipe", link, "-p COM1 flash other.hex",
            "flash takes no FILE with a recipe: the recipe R pins the firmware (line 4)");
        row("another command", link, "-p COM1 install",
            "a recipe is for flash, verify, check, serve and log (its journal), not install");
        row("an unknown key", "[link]\nbaud = 19200\nspeed = 9600\n", "-p COM1 flash",
            "R:8:1: unknown key \"link.speed\" in [link]");
        row("a wrong type", "[link]\nbaud = \"fast\"\n", "-p COM1 flash",
            "R:7:8: link.baud must be a whole number, not a text");
        row("a value its option refuses", "[link]\nbaud = 1200\n", "-p COM1 flash",
            "the recipe R (line 7, link.baud): --baud must be 9600, 19200 or 115200");
        row("not TOML", "[link\n", "-p COM1 flash", "R:6:6: ");
        row("serial numbers without a journal", "[serial]\nat = 256\n", "-p COM1 flash",
            "R:6:1: [serial] needs [journal] url: serial numbers come only from the journal the "
            "recipe names");
        row("a password", "[journal]\nurl = \"postgresql://op:secret@db/line\"\n", "-p COM1 flash",
            "R:7:7: journal.url holds a password: a recipe holds none");
        row("baud and usb", "[link]\nbaud = 9600\nusb = true\n", "-p COM1 flash",
            "R:8:7: [link] takes baud or usb, not both");
        row("a version that is no pattern", "[board]\nversion = \"VER=(4\"\n", "-p COM1 flash",
            "R:7:11: board.version must be a regular expression: missing closing parenthesis");
        row("addresses neither a list nor all", "[link]\naddresses = 3\n", "-p COM1 flash",
            "R:7:13: link.addresses must be a list of addresses or \"all\", not a whole number");
        // The TOML reader follows a key's parts and nested values by recursion: a deep one is
        // refused before it is read.
        row("a key of 40,000 parts", QString("a.").repeated(40000) + "a = 1\n", "check",
            "R:6:66: more than 32 dots outside texts on one line: no key of a recipe has that many "
            "parts");
        row("a table name of 40,000 parts", "[" + QString("t.").repeated(40000) + "t]\n", "check",
            "R:6:67: more than 32 dots outside texts on one line");
        row("dots in texts and comments",
            "[journal] # " + QString("a.").repeated(40) + "\nstation = \"" +
                QString("jig.").repeated(40) + "\"\n",
            "-p COM1 flash", "", "115200 1000 @/blink.hex");
        row("lists nested deep", "[link]\naddresses = " + QString("[").repeated(33), "check",
            "R:7:45: lists and tables nested more than 32 deep");
        row("the journal of a log", link + "[journal]\nurl = \"sqlite:j.sqlite\"\n",
            "--since 2024-05-01 --station jig-2 --csv log", "", "log sqlite:@/j.sqlite jig-2");
        row("the journal of a serve", "[journal]\nurl = \"sqlite:j.sqlite\"\n", "serve", "",
            "serve sqlite:@/j.sqlite");
        row("a log without a journal", link, "log",
            "log --recipe lists the journal the recipe names, and the recipe R names none: give "
            "it [journal] url");
        for (const QString &journal : {QString(), QString("[journal]\nstation = \"jig-1\"\n")}) {
            row(qPrintable("a serve of a recipe without a journal: " + journal.section('\n', 0, 0)),
                journal, "serve",
                "serve --recipe shows the journal the recipe names, and the recipe R names none: "
                "give it [journal] url");
        }
        row("a journal given to a log", "[journal]\nurl = \"sqlite:j.sqlite\"\n",
            "-J sqlite:k.sqlite log",
            "--journal cannot be given: the recipe R (line 7, journal.url) "
            "pins it");
    }

    void recipes() {
        QFETCH(QString, lines);
        QFETCH(QString, arguments);
        QFETCH(QString, error);
        QFETCH(QString, pinned);
        // A folder whose name reads as a format: no message takes the path for one.
        QTemporaryDir base;
        const QString folder = base.filePath("lot %1 %2");
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + "/r.toml";
        QFile recipe(path);
        QVERIFY(recipe.open(QIODevice::WriteOnly));
        recipe.write(
            "schema_version = 1\nname = \"Blink 2.3\"\n[firmware]\nfile = \"blink.hex\"\n"
            "sha256 = \"0c38529d25fddb11a23ec18c37a61e14e3375db741868d588536de1a21f998c6\"\n" +
            lines.toUtf8());
        recipe.close();
        const ParsedArguments parsed =
            parseArguments(QStringList{"quenta-flash", "--recipe", path} + arguments.split(' '));
        const QString expected = QString(error).replace("R", path);
        QCOMPARE(error.isEmpty() ? parsed.error : parsed.error.left(expected.size()), expected);
        if (!error.isEmpty()) {
            return;
        }
        const Settings &s = parsed.settings;
        if (s.command == Command::Log || s.command == Command::Serve) {
            QCOMPARE(QStringList({arguments.section(' ', -1), s.journal->shown(), s.log.station})
                         .join(' ')
                         .trimmed(),
                     QString(pinned).replace("@", folder));
            return;
        }
        QStringList addresses;
        for (const std::uint8_t address : s.addresses.list) {
            addresses << QString::number(address);
        }
        QStringList shown{
            QString::number(s.baud),      s.usb ? "usb" : "",
            s.modbus ? "modbus" : "",     addresses.join(','),
            QString::number(s.timeoutMs), s.waitMs != 10000 ? QString::number(s.waitMs) : ""};
        if (s.serial) {
            shown << "serial"
                  << "0x" + QString::number(s.serial->address, 16).toUpper()
                  << (s.serial->format == SerialFormat::Retlw ? "retlw" : "le");
        }
        if (s.recipe->pinOf(Option::Journal)) {
            shown << s.journal->shown() << s.station << s.operatorName;
        } else {
            shown << s.file;
        }
        shown.removeAll(QString());
        QCOMPARE(shown.join(' '), QString(pinned).replace("@", folder));
    }

    // The whole VER= text must match a recipe's [board] version, not a part of it.
    void boardVersion_data() {
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("the whole text") << "VER=4.12" << true;
        QTest::newRow("more after it") << "VER=4.1-beta" << false;
        QTest::newRow("more before it") << "XVER=4.1" << false;
        QTest::newRow("a part of it") << "VER=4." << false;
    }
    void boardVersion() {
        QFETCH(QString, version);
        QFETCH(bool, accepted);
        const auto accepts = acceptsVersion(QStringLiteral("VER=4\\.[0-9]+"));
        QCOMPARE(accepts(version.toStdString()), accepted);
    }

    // The README's table of exit statuses is the one the help and the man page are made from.
    void readmeExitStatus() {
        QFile readme(QStringLiteral(QUENTA_SOURCE_DIR "/README.md"));
        QVERIFY(readme.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(readme.readAll()).contains(exitStatusMarkdown()));
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
