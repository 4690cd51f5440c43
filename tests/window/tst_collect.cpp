// Collecting answers from the port and what each answer means.
#include "FakeHosted.h"
#include "controls/VbColor.h"
#include "link/ModbusFrame.h"
#include "protocol/Crc16.h"

#include <QtTest>

using namespace quenta;
using namespace quenta::testing;

namespace {

std::string answerFrame(std::uint8_t address, const std::string &text) {
    std::string frame(1, static_cast<char>(address));
    frame += 'B';
    frame += text;
    return frame + CRC16(frame);
}

// An open window in the given mode, probing stopped, with a three-line table loaded.
struct Collecting : FakeWindow {
    explicit Collecting(bool modbus) {
        window->Text1->setText(QStringLiteral("1"));
        window->BTNOpenCom->click();
        window->Timer3->setEnabled(false);
        window->Check1->setCheckState(modbus ? Qt::Checked : Qt::Unchecked);
        port->written.clear();
        window->HexLines[1] = ":020000040000FA";
        window->HexLines[2] = ":0100000055AA";
        window->HexLines[3] = ":00000001FF";
        window->LineCount = 3;
    }
    // One poll with these characters waiting.
    void poll(const std::string &incoming) {
        port->incoming = incoming;
        window->TMRComm_Timer();
    }
    QString answerBox() const { return window->Text8->text(); }
};

} // namespace

class CollectTest : public QObject {
    Q_OBJECT
private slots:
    void blinkWithoutData();
    void plainAnswerInOneTick();
    void plainTwoAnswersInOneTick();
    void plainShortReadsAreKept();
    void plainAnswerSplitAcrossPolls();
    void plainUnterminatedAnswerAfterQuietPolls();
    void modbusWorkedExample();
    void modbusFrameInTwoTicks();
    void modbusShortBufferWaits();
    void modbusShortReadsJoinTheFrame();
    void modbusWrongAddress();
    void modbusWrongMarker();
    void modbusCorruptFrameCostsOnlyItself();
    void modbusForeignFrameIsSkipped();
    void modbusBufferStaysBounded();
    void parserKeywords_data();
    void parserKeywords();
    void parserKeywordOrder_data();
    void parserKeywordOrder();
    void okOutsideJobSendsNothing();
    void downloadOutsideJobSendsNothing();
    void verEndsProbingAndResumesPendingJob();
    void errorThenOkResumesInDownloadForm();
    void errorDuringVerify();
};

void CollectTest::blinkWithoutData() {
    Collecting c(false);
    c->Pic->setFillColor(VbColor::DarkGreen);
    c->BlinkCount = 0;
    for (int tick = 1; tick <= 9; ++tick) {
        c.poll("");
        QCOMPARE(c->Pic->fillColor(), VbColor::DarkGreen);
    }
    c.poll("");
    QCOMPARE(c->BlinkCount, 0);
    QCOMPARE(c->Pic->fillColor(), VbColor::White);
    for (int tick = 1; tick <= 10; ++tick) {
        c.poll("");
    }
    QCOMPARE(c->Pic->fillColor(), VbColor::Grey);
    QVERIFY(c.port->written.empty());
}

void CollectTest::plainAnswerInOneTick() {
    Collecting c(false);
    c->FileLoaded = 1;
    c.poll("HELLO\r\n");
    QCOMPARE(c.answerBox(), QStringLiteral("HELLO\r\n"));
    QCOMPARE(c->Pic->fillColor(), VbColor::Red);
    QVERIFY(c.port->written.empty());
    c.poll("OK\r\n");
    QCOMPARE(c.answerBox(), QStringLiteral("OK\r\n"));
    QCOMPARE(c->Pic->fillColor(), VbColor::DarkGreen);
    QCOMPARE(c.port->written, std::vector<std::string>{"BOOT:020000040000FA\r\n"});
    QVERIFY(c->RxAnswer.empty());
    QVERIFY(c->RxFrame.empty());
}

void CollectTest::plainTwoAnswersInOneTick() {
    Collecting c(false);
    c->FileLoaded = 1;
    c.poll("OK\r\nOK\r\n");
    QCOMPARE(c.answerBox(), QStringLiteral("OK\r\nOK\r\n"));
    QCOMPARE(c.port->written.size(), std::size_t{1});
}

void CollectTest::plainShortReadsAreKept() {
    Collecting c(false);
    c->FileLoaded = 1;
    c.poll("O");
    c.poll("K\r");
    QVERIFY(c.port->written.empty());
    c.poll("\n");
    QCOMPARE(c.answerBox(), QStringLiteral("OK\r\n"));
    QCOMPARE(c.port->written.size(), std::size_t{1});
}

void CollectTest::plainAnswerSplitAcrossPolls() {
    Collecting c(false);
    c->FileLoaded = 1;
    c->VerifyMode = 0;
    c.poll("DOWN");
    QVERIFY(c.port->written.empty());
    c.poll("LOAD\r\n");
    QCOMPARE(c.answerBox(), QStringLiteral("DOWNLOAD\r\n"));
    QCOMPARE(c->VerifyMode, 1);
    QCOMPARE(c.port->written, std::vector<std::string>{"BOOT#020000040000FA\r\n"});
}

void CollectTest::plainUnterminatedAnswerAfterQuietPolls() {
    Collecting c(false);
    c->Timer3->setEnabled(true);
    c.poll("VER=2");
    for (int quiet = 1; quiet < kPlainQuietTicks; ++quiet) {
        c.poll("");
        QVERIFY(c->Timer3->enabled());
    }
    c.poll("");
    QCOMPARE(c.answerBox(), QStringLiteral("VER=2"));
    QVERIFY(!c->Timer3->enabled());
    QCOMPARE(c->Label2->text(), QStringLiteral("READY"));
}

void CollectTest::modbusWorkedExample() {
    Collecting c(true);
    c->FileLoaded = 1;
    const std::string frame = {
        0x01, 0x42, 0x4F, 0x4B, 0x0D, 0x0A, static_cast<char>(0x9B), static_cast<char>(0x90)};
    c.poll(frame);
    QCOMPARE(c.answerBox(), QStringLiteral("OK\r\n"));
    QCOMPARE(c.port->written, std::vector<std::string>{modbusFrame(1, "BOOT:020000040000FA\r\n")});
    QVERIFY(c->RxFrame.empty());
}

void CollectTest::modbusFrameInTwoTicks() {
    Collecting c(true);
    const std::string frame = answerFrame(1, "VER=4.1\r\n"); // 13 characters
    c->Timer3->setEnabled(true);
    c.poll(frame.substr(0, 7));
    QCOMPARE(c->RxFrame, frame.substr(0, 7));
    QVERIFY(c->Timer3->enabled());
    c.poll(frame.substr(7));
    QVERIFY(!c->Timer3->enabled());
    QCOMPARE(c.answerBox(), QStringLiteral("VER=4.1\r\n"));
    QVERIFY(c->RxFrame.empty());
}

void CollectTest::modbusShortBufferWaits() {
    Collecting c(true);
    c->Text8->setText(QStringLiteral("before"));
    c.poll(std::string("\x07XYZ", 4)); // a wrong address, but too short to be examined
    QCOMPARE(c.answerBox(), QStringLiteral("before"));
    QCOMPARE(c->RxFrame.size(), std::size_t{4});
}

void CollectTest::modbusShortReadsJoinTheFrame() {
    Collecting c(true);
    c->FileLoaded = 1;
    const std::string frame = answerFrame(1, "OK\r\n");
    for (char ch : frame) {
        c.poll(std::string(1, ch));
    }
    QCOMPARE(c.answerBox(), QStringLiteral("OK\r\n"));
    QCOMPARE(c.port->written.size(), std::size_t{1});
}

void CollectTest::modbusWrongAddress() {
    Collecting c(true);
    c.poll(answerFrame(2, "OK\r\n"));
    QCOMPARE(c.answerBox(),
             QStringLiteral("Error ADDR  >> ") + QString::fromLatin1(answerFrame(2, "OK\r\n")));
    QVERIFY(c.port->written.empty());
}

void CollectTest::modbusWrongMarker() {
    Collecting c(true);
    std::string frame = "\x01"
                        "bOK\r\n";
    frame += CRC16(frame);
    c.poll(frame);
    QVERIFY(c.answerBox().startsWith(QStringLiteral("Error CMD  >> ")));
    QVERIFY(c.port->written.empty());
}

void CollectTest::modbusCorruptFrameCostsOnlyItself() {
    Collecting c(true);
    c->FileLoaded = 1;
    std::string bad = answerFrame(1, "OK\r\n");
    bad.back() = static_cast<char>(bad.back() ^ 0x55);
    c.poll(bad);
    QVERIFY(c.port->written.empty());
    c.poll(answerFrame(1, "OK\r\n"));
    QCOMPARE(c.port->written.size(), std::size_t{1});
    c.poll(answerFrame(1, "OK\r\n"));
    QCOMPARE(c.port->written.size(), std::size_t{2});
    QVERIFY(c->RxFrame.empty());
}

void CollectTest::modbusForeignFrameIsSkipped() {
    Collecting c(true);
    c->FileLoaded = 1;
    c.poll(answerFrame(9, "OK\r\n") + answerFrame(1, "OK\r\n"));
    QCOMPARE(c.port->written.size(), std::size_t{1});
    QCOMPARE(c.answerBox(), QStringLiteral("OK\r\n"));
}

void CollectTest::modbusBufferStaysBounded() {
    Collecting c(true);
    c->FileLoaded = 1;
    for (int i = 0; i < 50; ++i) {
        c.poll(std::string(100, static_cast<char>(0x01)));
        QVERIFY(c->RxFrame.size() <= kModbusBufferLimit);
    }
    c.poll(answerFrame(1, "OK\r\n"));
    QCOMPARE(c.port->written.size(), std::size_t{1});
}

void CollectTest::parserKeywords_data() {
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("verifyMode");
    QTest::addColumn<QString>("barText");
    QTest::addColumn<quint32>("barColor");
    QTest::addColumn<int>("verifyModeAfter");
    QTest::addColumn<int>("fileLoadedAfter");
    QTest::addColumn<QByteArray>("sent"); // the line sent, empty for none
    QTest::newRow("OK while downloading")
        << QByteArray("OK\r\n") << 0 << "DOWNLOAD" << VbColor::Navy << 0 << 1
        << QByteArray("BOOT:020000040000FA\r\n");
    QTest::newRow("OK while verifying") << QByteArray("OK\r\n") << 1 << "NO FILE" << VbColor::Navy
                                        << 1 << 1 << QByteArray("BOOT#020000040000FA\r\n");
    QTest::newRow("DOWNLOAD ends download pass")
        << QByteArray("DOWNLOAD\r\n") << 0 << "VERIFY" << VbColor::Navy << 1 << 1
        << QByteArray("BOOT#020000040000FA\r\n");
    QTest::newRow("DOWNLOAD ends verify pass")
        << QByteArray("DOWNLOAD\r\n") << 1 << "END" << VbColor::Green << 0 << 0 << QByteArray();
    QTest::newRow("ERROR") << QByteArray("ERROR\r\n") << 1 << "ERROR" << VbColor::Red << 0 << 1
                           << QByteArray();
    QTest::newRow("FORMAT") << QByteArray("FORMAT\r\n") << 0 << "" << VbColor::Navy << 0 << 1
                            << QByteArray();
    QTest::newRow("lower case ok")
        << QByteArray("ok\r\n") << 0 << "NO FILE" << VbColor::Navy << 0 << 1 << QByteArray();
    QTest::newRow("unknown") << QByteArray("HELLO\r\n") << 0 << "NO FILE" << VbColor::Navy << 0 << 1
                             << QByteArray();
}

void CollectTest::parserKeywords() {
    QFETCH(QByteArray, answer);
    QFETCH(int, verifyMode);
    QFETCH(QString, barText);
    QFETCH(quint32, barColor);
    QFETCH(int, verifyModeAfter);
    QFETCH(int, fileLoadedAfter);
    QFETCH(QByteArray, sent);
    Collecting c(false);
    c->vbalProgressBar1->setText(QStringLiteral("NO FILE"));
    c->vbalProgressBar1->setValue(2);
    c->FileLoaded = 1;
    c->VerifyMode = static_cast<std::int16_t>(verifyMode);
    c->RxAnswer = answer.toStdString();
    c->Com_Parser();
    QCOMPARE(c.answerBox(), QString::fromLatin1(answer));
    QCOMPARE(c->vbalProgressBar1->text(), barText);
    QCOMPARE(c->vbalProgressBar1->barColor(), barColor);
    QCOMPARE(c->VerifyMode, verifyModeAfter);
    QCOMPARE(c->FileLoaded, fileLoadedAfter);
    if (sent.isEmpty()) {
        QVERIFY(c.port->written.empty());
    } else {
        QCOMPARE(c.port->written, std::vector<std::string>{sent.toStdString()});
    }
    if (barText.isEmpty()) {
        QCOMPARE(c->vbalProgressBar1->value(), 0);
    }
}

void CollectTest::parserKeywordOrder_data() {
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("barText");
    QTest::addColumn<bool>("sends");
    QTest::newRow("VER= before OK") << QByteArray("VER=1 OK\r\n") << "READY"
                                    << "NO FILE" << false;
    QTest::newRow("ERROR before DOWNLOAD") << QByteArray("DOWNLOAD ERROR\r\n") << "Ready"
                                           << "ERROR" << false;
    QTest::newRow("DOWNLOAD before OK") << QByteArray("OK DOWNLOAD\r\n") << "Ready"
                                        << "VERIFY" << true;
    QTest::newRow("FORMAT before OK") << QByteArray("OK FORMAT\r\n") << "Ready"
                                      << "" << false;
}

void CollectTest::parserKeywordOrder() {
    QFETCH(QByteArray, answer);
    QFETCH(QString, label);
    QFETCH(QString, barText);
    QFETCH(bool, sends);
    Collecting c(false);
    c->vbalProgressBar1->setText(QStringLiteral("NO FILE"));
    c->FileLoaded = 1;
    c->RxAnswer = answer.toStdString();
    c->Com_Parser();
    QCOMPARE(c->Label2->text(), label);
    QCOMPARE(c->vbalProgressBar1->text(), barText);
    QCOMPARE(!c.port->written.empty(), sends);
}

void CollectTest::okOutsideJobSendsNothing() {
    Collecting c(false);
    c->FileLoaded = 0;
    c->TransferRequested = 1;
    c.poll("OK\r\n");
    QCOMPARE(c.answerBox(), QStringLiteral("OK\r\n"));
    QVERIFY(c.port->written.empty());
    QCOMPARE(c->LineIndex, 0);
}

void CollectTest::downloadOutsideJobSendsNothing() {
    Collecting c(false);
    c->FileLoaded = 0;
    c->VerifyMode = 1;
    c->vbalProgressBar1->setText(QStringLiteral("ERROR"));
    c.poll("DOWNLOAD\r\n");
    QCOMPARE(c.answerBox(), QStringLiteral("DOWNLOAD\r\n"));
    QVERIFY(c.port->written.empty());
    QCOMPARE(c->vbalProgressBar1->text(), QStringLiteral("ERROR"));
}

void CollectTest::verEndsProbingAndResumesPendingJob() {
    Collecting c(false);
    c->Timer3->setEnabled(true);
    c->TransferRequested = 1;
    c->FileLoaded = 0;
    c.poll("VER=4.1\r\n");
    QVERIFY(!c->Timer3->enabled());
    QCOMPARE(c->Label2->text(), QStringLiteral("READY"));
    QVERIFY(c.port->written.empty());

    c->FileLoaded = 1;
    c.poll("VER=4.1\r\n");
    QCOMPARE(c.port->written, std::vector<std::string>{"BOOT:020000040000FA\r\n"});
}

void CollectTest::errorThenOkResumesInDownloadForm() {
    Collecting c(false);
    c->FileLoaded = 1;
    c->VerifyMode = 1;
    c->LineIndex = 1;
    c.poll("ERROR\r\n");
    QCOMPARE(c->VerifyMode, 0);
    QVERIFY(c.port->written.empty());
    c.poll("OK\r\n");
    QCOMPARE(c.port->written, std::vector<std::string>{"BOOT:0100000055AA\r\n"});
    QCOMPARE(c->vbalProgressBar1->text(), QStringLiteral("DOWNLOAD"));
}

void CollectTest::errorDuringVerify() {
    Collecting c(false);
    c->FileLoaded = 1;
    c->VerifyMode = 1;
    c.poll("ERROR\r\n");
    QCOMPARE(c->VerifyMode, 0);
    QCOMPARE(c->FileLoaded, 1);
    QCOMPARE(c->vbalProgressBar1->barColor(), VbColor::Red);
}

QTEST_MAIN(CollectTest)
#include "tst_collect.moc"
