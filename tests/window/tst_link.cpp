// Opening and closing the port, the connection timer and the command output.
#include "FakeHosted.h"
#include "controls/VbColor.h"
#include "link/ModbusFrame.h"

#include <QtTest>

using namespace quenta;
using namespace quenta::testing;

namespace {

const QString kNotAvailable =
    QStringLiteral(" Not available! Use Serial settings to setup your ports.");

std::string bytes(std::initializer_list<int> codes) {
    std::string s;
    for (int c : codes) {
        s += static_cast<char>(c);
    }
    return s;
}

// Every message shown, as "prompt|style|title".
QStringList shown(const FakeWindow &w) {
    QStringList all;
    for (const ShownMessage &m : w.messages->shown) {
        all << QStringLiteral("%1|%2|%3").arg(m.prompt).arg(m.style).arg(m.title);
    }
    return all;
}

bool openFace(const FakeWindow &w) {
    return !w->BTNOpenCom->isEnabled() && !w->txt[0]->isEnabled() && w->BTNCloseCom->isEnabled();
}

bool closedFace(const FakeWindow &w) {
    return w->BTNOpenCom->isEnabled() && w->txt[0]->isEnabled() && !w->BTNCloseCom->isEnabled();
}

} // namespace

class LinkTest : public QObject {
    Q_OBJECT
private slots:
    void openWithAddress_data();
    void openWithAddress();
    void openPortText_data();
    void openPortText();
    void closeRestoresClosedFace();
    void switchTagsToggles();
    void unloadClosesOpenPort();
    void usbStartStopAlternates();
    void usbSearch_data();
    void usbSearch();
    void probeWalksAddresses();
    void probeLimitReportsNotConnected();
    void nextResumesSearch();
    void writeWorkedExamples();
    void writeModbusAddress_data();
    void writeModbusAddress();
};

void LinkTest::openWithAddress_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QRadioButton * frmSerial::*>("option");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<int>("addrStep");
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("probing");
    QTest::newRow("5 at 115200") << "5" << &frmSerial::Option3 << "115200,n,8,1" << 0 << "Set Addr"
                                 << true;
    QTest::newRow("empty searches, 9600")
        << "" << &frmSerial::Option1 << "9600,n,8,1" << 1 << "Next" << true;
    QTest::newRow("0 does not probe, 19200")
        << "0" << &frmSerial::Option2 << "19200,n,8,1" << 0 << "Set Addr" << false;
}

void LinkTest::openWithAddress() {
    QFETCH(QString, address);
    QFETCH(QRadioButton * frmSerial::*, option);
    QFETCH(QString, settings);
    QFETCH(int, addrStep);
    QFETCH(QString, button);
    QFETCH(bool, probing);
    FakeWindow w;
    w->Text1->setText(address);
    w->Check1->setCheckState(Qt::Checked);
    (w.window.get()->*option)->click();
    w->BTNOpenCom->click();
    QVERIFY(w.port->portOpen());
    QCOMPARE(w->PortNumber, 3);
    QCOMPARE(w.port->settingsLog, QStringList{settings});
    QVERIFY(!w->Pic->isHidden());
    QCOMPARE(w->txt[0]->palette().color(QPalette::Base), fromBgr(VbColor::Green));
    QCOMPARE(w->Label2->text(), QStringLiteral("Ready"));
    QCOMPARE(w->Command1->text(), button);
    QCOMPARE(w->AddrStep, addrStep);
    QCOMPARE(w->ScanPort, 1);
    QVERIFY(openFace(w));
    QCOMPARE(w->Timer3->enabled(), probing);
    QVERIFY(w->TMRComm->enabled());
    QCOMPARE(w->vbalProgressBar1->value(), 0);
    QCOMPARE(w->vbalProgressBar1->barColor(), VbColor::Navy);
    QVERIFY(w.messages->shown.empty());
}

void LinkTest::openPortText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("available");
    QTest::addColumn<QString>("opened"); // empty: the open must fail
    QTest::newRow("COM3") << "COM3" << QStringList{"3"} << "3";
    QTest::newRow("XYZ5 skips the first three") << "XYZ5" << QStringList{"5"} << "5";
    QTest::newRow("COM12") << "COM12" << QStringList{"12"} << "12";
    QTest::newRow("blanks around") << "COM 7 " << QStringList{"7"} << "7";
    QTest::newRow("path") << "/dev/pts/9" << QStringList{"/dev/pts/9"} << "/dev/pts/9";
    QTest::newRow("COM") << "COM" << QStringList{"3"} << "";
    QTest::newRow("COMx") << "COMx" << QStringList{"3"} << "";
    QTest::newRow("COM0") << "COM0" << QStringList{"0"} << "";
    QTest::newRow("COM-1") << "COM-1" << QStringList{"-1"} << "";
    QTest::newRow("too large") << "COM40000" << QStringList{"3"} << "";
    QTest::newRow("no such port") << "COM4" << QStringList{"3"} << "";
    QTest::newRow("empty") << "" << QStringList{"3"} << "";
    QTest::newRow("missing path") << "/dev/none" << QStringList{"3"} << "";
}

void LinkTest::openPortText() {
    QFETCH(QString, text);
    QFETCH(QStringList, available);
    QFETCH(QString, opened);
    FakeWindow w;
    w.port->available = available;
    w->txt[0]->setText(text);
    w->BTNOpenCom->click();
    if (!opened.isEmpty()) {
        QVERIFY(w.port->portOpen());
        QCOMPARE(w.port->commPort, opened);
        QVERIFY(w.messages->shown.empty());
        return;
    }
    QVERIFY(!w.port->portOpen());
    QCOMPARE(shown(w), QStringList{text + kNotAvailable + "|0|"});
    QCOMPARE(w->Label2->text(), QStringLiteral("Not present board"));
    QVERIFY(!w->Timer3->enabled());
    QVERIFY(!w->TMRComm->enabled());
    QVERIFY(closedFace(w));
}

void LinkTest::closeRestoresClosedFace() {
    FakeWindow w;
    w->BTNOpenCom->click();
    w->Text8->setText(QStringLiteral("VER=1"));
    w->VerifyMode = 1;
    w->FileLoaded = 1;
    w->vbalProgressBar1->setValue(7);
    w->vbalProgressBar1->setBarColor(VbColor::Green);
    w->BTNCloseCom->click();
    QVERIFY(!w.port->portOpen());
    QVERIFY(!w->Timer3->enabled());
    QVERIFY(!w->TMRComm->enabled());
    QCOMPARE(w->Label2->text(), QStringLiteral("Closed"));
    QVERIFY(w->Text8->text().isEmpty());
    QCOMPARE(w->vbalProgressBar1->text(), QStringLiteral("NO FILE"));
    QCOMPARE(w->vbalProgressBar1->value(), 7);
    QCOMPARE(w->vbalProgressBar1->barColor(), VbColor::Green);
    QCOMPARE(w->VerifyMode, 0);
    QCOMPARE(w->FileLoaded, 0);
    QVERIFY(w->Pic->isHidden());
    QCOMPARE(w->txt[0]->palette().color(QPalette::Base),
             QApplication::palette(w->txt[0]).color(QPalette::Base));
    QVERIFY(closedFace(w));
    // Close then Open with an empty address box starts the search at address 1 again.
    w->ScanPort = 40;
    w->BTNOpenCom->click();
    QCOMPARE(w->ScanPort, 1);
    QVERIFY(!w->Pic->isHidden());
    QVERIFY(openFace(w));
}

void LinkTest::switchTagsToggles() {
    FakeWindow w;
    w->Command4->setProperty("Tag", QStringLiteral(" ")); // a blank tag still counts
    w->SwitchTags();
    QVERIFY(openFace(w));
    QVERIFY(w->Command3->isEnabled());
    QVERIFY(w->Text1->isEnabled());
    QVERIFY(!w->Command4->isEnabled());
    QVERIFY(w->Command6->isEnabled());
    w->SwitchTags();
    QVERIFY(closedFace(w));
    QVERIFY(w->Command4->isEnabled());
}

void LinkTest::unloadClosesOpenPort() {
    FakeWindow w;
    w->BTNOpenCom->click();
    QVERIFY(w.port->portOpen());
    QVERIFY(w->close());
    QVERIFY(!w.port->portOpen());
    QVERIFY(w.messages->shown.empty());
}

void LinkTest::usbStartStopAlternates() {
    FakeWindow w;
    w->Option4->click();
    w->Check1->setCheckState(Qt::Checked);
    w->BTNOpenCom->click();
    QVERIFY(!w.port->portOpen());
    QCOMPARE(w.port->settingsLog, QStringList{"115200,n,8,1"});
    QCOMPARE(w->Label2->text(), QStringLiteral("WAIT Connect: "));
    QCOMPARE(w->Check1->checkState(), Qt::Unchecked);
    QCOMPARE(w->Text1->text(), QStringLiteral("16"));
    QVERIFY(w->Timer3->enabled());
    QCOMPARE(w->Scanning, 1);
    QCOMPARE(w->AddrStep, 0);
    QVERIFY(closedFace(w));

    // The search is running once the timer has counted: the next press stops it and lets go
    // of the port the search opened before the connection was completed.
    w->Timer3_Timer();
    QVERIFY(w.port->portOpen());
    QCOMPARE(w->Label2->text(), QStringLiteral("WAIT Connect: 2"));
    w->Check1->setCheckState(Qt::Checked);
    w->Text1->setText(QStringLiteral("3"));
    w->BTNOpenCom->click();
    QCOMPARE(w->Label2->text(), QStringLiteral("No info: "));
    QVERIFY(!w.port->portOpen());
    QVERIFY(w->Pic->isHidden());
    QVERIFY(closedFace(w));
    QVERIFY(!w->Timer3->enabled());
    QCOMPARE(w->ScanPort, 1);
    QCOMPARE(w->Check1->checkState(), Qt::Unchecked);
    QCOMPARE(w->Text1->text(), QStringLiteral("16"));

    w->BTNOpenCom->click();
    QVERIFY(w->Timer3->enabled());
    QCOMPARE(w->Label2->text(), QStringLiteral("WAIT Connect: "));
}

void LinkTest::usbSearch_data() {
    QTest::addColumn<int>("appearsAt"); // the counter whose attempt finds the port, 0: never
    QTest::newRow("port appears") << 3;
    QTest::newRow("port opened at the last attempt") << 199;
    QTest::newRow("no device") << 0;
}

void LinkTest::usbSearch() {
    QFETCH(int, appearsAt);
    FakeWindow w;
    w.port->available.clear();
    w->Option4->click();
    w->BTNOpenCom->click();
    for (int counter = 2; counter < 200; ++counter) {
        if (counter == appearsAt) {
            w.port->available = QStringList{"3"};
        }
        w->Timer3_Timer();
        QCOMPARE(w.port->portOpen(), appearsAt != 0 && counter >= appearsAt);
        if (counter == appearsAt) {
            break;
        }
    }
    QVERIFY(w.port->written.empty());
    QVERIFY(w.messages->shown.empty());
    QVERIFY(closedFace(w));
    if (appearsAt == 0) {
        QCOMPARE(w->ScanPort, 199);
        QCOMPARE(w.port->openAttempts, 198);
    }

    w->Timer3_Timer();
    QVERIFY(!w->Timer3->enabled());
    QCOMPARE(w->Scanning, 1);
    if (appearsAt == 0) {
        QCOMPARE(w->ScanPort, 200);
        QCOMPARE(w.port->openAttempts, 198);
        QCOMPARE(shown(w), QStringList{"COM3" + kNotAvailable + "|0|"});
        QCOMPARE(w->Label2->text(), QStringLiteral("Not present board"));
        // After the limit, Open only stops; the press after it starts again.
        w->BTNOpenCom->click();
        QCOMPARE(w->Label2->text(), QStringLiteral("No info: "));
        w->BTNOpenCom->click();
        QVERIFY(w->Timer3->enabled());
        return;
    }
    QVERIFY(w.messages->shown.empty());
    QCOMPARE(w->Label2->text(), QStringLiteral("Ready"));
    QCOMPARE(w->ScanPort, 1);
    QVERIFY(w->TMRComm->enabled());
    QVERIFY(openFace(w));
    QCOMPARE(w.sleeper->slept, std::vector<int>{100});
    QCOMPARE(w.port->written, std::vector<std::string>{"BOOTi\r\n"});
    QCOMPARE(w->vbalProgressBar1->barColor(), VbColor::Navy);
}

void LinkTest::probeWalksAddresses() {
    FakeWindow w;
    w->Check1->setCheckState(Qt::Checked);
    w->BTNOpenCom->click();
    for (int address = 1; address <= 3; ++address) {
        w->Timer3_Timer();
        QCOMPARE(w->Label2->text(), QStringLiteral("WAIT Connect: %1").arg(address));
        QCOMPARE(w->Text1->text(), QString::number(address));
        QCOMPARE(w.port->written.back(),
                 modbusFrame(static_cast<std::uint8_t>(address), "BOOTi\r\n"));
    }
    QCOMPARE(w->ScanPort, 4);

    // Without MODBUS the address box still counts but the probe is the plain command.
    w->Check1->setCheckState(Qt::Unchecked);
    w->Timer3_Timer();
    QCOMPARE(w->Text1->text(), QStringLiteral("4"));
    QCOMPARE(w.port->written.back(), std::string("BOOTi\r\n"));
}

void LinkTest::probeLimitReportsNotConnected() {
    FakeWindow w;
    w->Text1->setText(QStringLiteral("5"));
    w->Check1->setCheckState(Qt::Checked);
    w->BTNOpenCom->click();
    for (int probe = 1; probe <= 127; ++probe) {
        w->Timer3_Timer();
    }
    QCOMPARE(w.port->written, std::vector<std::string>(127, modbusFrame(5, "BOOTi\r\n")));
    QVERIFY(w.messages->shown.empty());
    w->Timer3_Timer();
    QCOMPARE(w.port->written.size(), std::size_t{127});
    QCOMPARE(shown(w), QStringList{"COM3 Not connect !|0|"});
    QCOMPARE(w->Label2->text(), QStringLiteral("Not present board"));
    QCOMPARE(w->ScanPort, 1);
    QVERIFY(!w->Timer3->enabled());
    QVERIFY(w.port->portOpen());
    QVERIFY(openFace(w));
}

void LinkTest::nextResumesSearch() {
    FakeWindow w;
    w->BTNOpenCom->click();
    w->Timer3_Timer();
    w->Timer3->setEnabled(false);
    w->Text8->setText(QStringLiteral("VER=4.1"));
    const std::size_t sent = w.port->written.size();
    w->Command1->click();
    QVERIFY(w->Timer3->enabled());
    QVERIFY(w->Text8->text().isEmpty());
    QCOMPARE(w->ScanPort, 2);
    // After Close, Next goes on counting addresses with nothing sent.
    w->BTNCloseCom->click();
    QCOMPARE(w->AddrStep, 1);
    w->Command1->click();
    QVERIFY(w->Timer3->enabled());
    w->Timer3_Timer();
    QCOMPARE(w->Text1->text(), QStringLiteral("2"));
    QCOMPARE(w.port->written.size(), sent);
}

void LinkTest::writeWorkedExamples() {
    FakeWindow w;
    w->TMRComm->setEnabled(true); // a closed port: nothing goes out and nothing changes
    QCOMPARE(w->WriteCOM32("BOOTi\r\n"), 0);
    QVERIFY(w.port->written.empty());
    QCOMPARE(w->Pic->fillColor(), VbColor::Yellow);
    QVERIFY(w->TMRComm->enabled());

    w->Text1->setText(QStringLiteral("1"));
    w->BTNOpenCom->click();
    w->Timer3->setEnabled(false);
    QCOMPARE(w->WriteCOM32("BOOTi\r\n"), 7);
    QCOMPARE(w.port->written.back(), bytes({0x42, 0x4F, 0x4F, 0x54, 0x69, 0x0D, 0x0A}));
    w->Check1->setCheckState(Qt::Checked);
    QCOMPARE(w->WriteCOM32("BOOTi\r\n"), 10);
    QCOMPARE(w.port->written.back(),
             bytes({0x01, 0x42, 0x4F, 0x4F, 0x54, 0x69, 0x0D, 0x0A, 0xFC, 0x89}));
    QCOMPARE(w->Pic->fillColor(), VbColor::DarkGreen);
    // Characters above 127 go out one byte each.
    w->Check1->setCheckState(Qt::Unchecked);
    const std::string high = bytes({0x80, 0xC0, 0xFF, 0x00});
    QCOMPARE(w->WriteCOM32(high), 4);
    QCOMPARE(w.port->written.back(), high);
    // A stopped answer timer is not started by writing.
    w->TMRComm->setEnabled(false);
    w->WriteCOM32("VER\r\n");
    QVERIFY(!w->TMRComm->enabled());
}

void LinkTest::writeModbusAddress_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("byte"); // -1: nothing may be written
    QTest::newRow("empty") << "" << 0x00;
    QTest::newRow("2.5") << "2.5" << 0x02;
    QTest::newRow("3.5") << "3.5" << 0x04;
    QTest::newRow("12abc") << "12abc" << 0x0C;
    QTest::newRow("blanks inside") << " 1 2 " << 0x0C;
    QTest::newRow("hex") << "&HFF" << 0xFF;
    QTest::newRow("255") << "255" << 0xFF;
    QTest::newRow("300") << "300" << -1;
    QTest::newRow("-1") << "-1" << -1;
    QTest::newRow("255.5") << "255.5" << -1;
}

void LinkTest::writeModbusAddress() {
    QFETCH(QString, address);
    QFETCH(int, byte);
    FakeWindow w;
    w->Text1->setText(QStringLiteral("0"));
    w->BTNOpenCom->click();
    w->Check1->setCheckState(Qt::Checked);
    w->Text1->setText(address);
    const int result = w->WriteCOM32("BOOTi\r\n");
    if (byte < 0) {
        QCOMPARE(result, 0);
        QVERIFY(w.port->written.empty());
        return;
    }
    QCOMPARE(result, 10);
    QCOMPARE(w.port->written.back(), modbusFrame(static_cast<std::uint8_t>(byte), "BOOTi\r\n"));
}

QTEST_MAIN(LinkTest)
#include "tst_link.moc"
