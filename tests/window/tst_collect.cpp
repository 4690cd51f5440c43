// Collecting answers from the port and what each answer means.
#include "FakeHosted.h"
#include "controls/VbColor.h"
#include "link/ModbusFrame.h"
#include "protocol/Crc16.h"

#include <QtTest>

using namespace quenta;
using namespace quenta::testing;

namespace {

QByteArray answerFrame(std::uint8_t address, const std::string &text, char marker = 'B') {
    std::string frame(1, static_cast<char>(address));
    frame += marker;
    frame += text;
    return QByteArray::fromStdString(frame + CRC16(frame));
}

QByteArray modbusLine(std::uint8_t address, const char *line) {
    return QByteArray::fromStdString(modbusFrame(address, line));
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
    void lamp();
    void collect_data();
    void collect();
    void plainUnterminatedAnswerAfterQuietPolls();
    void modbusBufferStaysBounded();
    void parserKeywords_data();
    void parserKeywords();
};

void CollectTest::lamp() {
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
    c.poll("HELLO\r\n");
    QCOMPARE(c->Pic->fillColor(), VbColor::Red);
    QVERIFY(c.port->written.empty());
}

void CollectTest::collect_data() {
    QTest::addColumn<bool>("modbus");
    QTest::addColumn<QByteArrayList>("polls");
    QTest::addColumn<QString>("answer"); // the answer box afterwards
    QTest::addColumn<QByteArrayList>("sent");
    QTest::addColumn<int>("held"); // characters left in the Modbus buffer
    QTest::addColumn<int>("fileLoaded");
    QTest::addColumn<int>("verifyMode");
    const auto row = [](const char *name, bool modbus, const QByteArrayList &polls,
                        const QString &answer, const QByteArrayList &sent, int held = 0,
                        int fileLoaded = 1, int verifyMode = 0) {
        QTest::newRow(name) << modbus << polls << answer << sent << held << fileLoaded
                            << verifyMode;
    };
    const QByteArray first = "BOOT:020000040000FA\r\n";
    row("plain, one tick", false, {"OK\r\n"}, "OK\r\n", {first});
    row("plain, two answers in one tick", false, {"OK\r\nOK\r\n"}, "OK\r\nOK\r\n", {first});
    row("plain, short reads kept", false, {"O", "K\r", "\n"}, "OK\r\n", {first});
    row("plain, answer split DOWN|LOAD", false, {"DOWN", "LOAD\r\n"}, "DOWNLOAD\r\n",
        {"BOOT#020000040000FA\r\n"});
    row("OK outside a job", false, {"OK\r\n"}, "OK\r\n", {}, 0, 0);
    row("DOWNLOAD outside a job", false, {"DOWNLOAD\r\n"}, "DOWNLOAD\r\n", {}, 0, 0, 1);
    row("VER= stops probing", false, {"VER=4.1\r\n"}, "VER=4.1\r\n", {}, 0, 0);
    row("VER= resumes a pending job", false, {"VER=4.1\r\n"}, "VER=4.1\r\n", {first});
    row("ERROR then OK resumes in download form", false, {"ERROR\r\n", "OK\r\n"}, "OK\r\n", {first},
        0, 1, 1);

    const QByteArray ok = answerFrame(1, "OK\r\n");
    const QByteArray ver = answerFrame(1, "VER=4.1\r\n"); // 13 characters
    QByteArrayList oneByOne;
    for (char ch : ok) {
        oneByOne << QByteArray(1, ch);
    }
    QByteArray corrupt = ok;
    corrupt.back() = static_cast<char>(corrupt.back() ^ 0x55);
    const QByteArray wrongAddress = answerFrame(2, "OK\r\n");
    const QByteArray wrongMarker = answerFrame(1, "OK\r\n", 'b');
    row("modbus worked frame", true, {QByteArray::fromHex("01424F4B0D0A9B90")}, "OK\r\n",
        {modbusLine(1, first)});
    row("modbus frame, first tick", true, {ver.left(7)}, "", {}, 7);
    row("modbus frame in two ticks", true, {ver.left(7), ver.mid(7)}, "VER=4.1\r\n", {}, 0, 0);
    row("modbus short reads join the frame", true, oneByOne, "OK\r\n", {modbusLine(1, first)});
    row("modbus short buffer not examined", true, {QByteArray("\x07XYZ", 4)}, "", {}, 4);
    row("modbus wrong address", true, {wrongAddress},
        "Error ADDR  >> " + QString::fromLatin1(wrongAddress), {});
    row("modbus wrong marker", true, {wrongMarker},
        "Error CMD  >> " + QString::fromLatin1(wrongMarker), {});
    row("modbus corrupt frame costs only itself", true, {corrupt, ok, ok}, "OK\r\n",
        {modbusLine(1, first), modbusLine(1, "BOOT:0100000055AA\r\n")});
    row("modbus foreign frame skipped", true, {answerFrame(9, "OK\r\n") + ok}, "OK\r\n",
        {modbusLine(1, first)});
}

void CollectTest::collect() {
    QFETCH(bool, modbus);
    QFETCH(QByteArrayList, polls);
    QFETCH(QString, answer);
    QFETCH(QByteArrayList, sent);
    QFETCH(int, held);
    QFETCH(int, fileLoaded);
    QFETCH(int, verifyMode);
    Collecting c(modbus);
    c->FileLoaded = static_cast<std::int16_t>(fileLoaded);
    c->VerifyMode = static_cast<std::int16_t>(verifyMode);
    c->TransferRequested = 1;
    c->Timer3->setEnabled(true);
    for (const QByteArray &incoming : polls) {
        c.poll(incoming.toStdString());
    }
    QCOMPARE(c.answerBox(), answer);
    std::vector<std::string> expected;
    for (const QByteArray &line : sent) {
        expected.push_back(line.toStdString());
    }
    QCOMPARE(c.port->written, expected);
    QCOMPARE(c->RxFrame, polls.join().right(held).toStdString());
    const bool version = answer.startsWith(QStringLiteral("VER="));
    QCOMPARE(c->Timer3->enabled(), !version);
    QCOMPARE(c->Label2->text(), version ? QStringLiteral("READY") : QStringLiteral("Ready"));
    QVERIFY(c->RxAnswer.empty());
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

void CollectTest::modbusBufferStaysBounded() {
    Collecting c(true);
    c->FileLoaded = 1;
    for (int i = 0; i < 50; ++i) {
        c.poll(std::string(100, static_cast<char>(0x01)));
        QVERIFY(c->RxFrame.size() <= kModbusBufferLimit);
    }
    c.poll(answerFrame(1, "OK\r\n").toStdString());
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
    QTest::addColumn<QString>("label");
    const auto row = [](const char *name, const char *answer, int verifyMode, const char *barText,
                        quint32 barColor, int verifyModeAfter, int fileLoadedAfter,
                        const char *sent = "", const char *label = "Ready") {
        QTest::newRow(name) << QByteArray(answer) << verifyMode << QString::fromLatin1(barText)
                            << barColor << verifyModeAfter << fileLoadedAfter << QByteArray(sent)
                            << QString::fromLatin1(label);
    };
    row("OK while downloading", "OK\r\n", 0, "DOWNLOAD", VbColor::Navy, 0, 1,
        "BOOT:020000040000FA\r\n");
    row("OK while verifying", "OK\r\n", 1, "NO FILE", VbColor::Navy, 1, 1,
        "BOOT#020000040000FA\r\n");
    row("DOWNLOAD ends download pass", "DOWNLOAD\r\n", 0, "VERIFY", VbColor::Navy, 1, 1,
        "BOOT#020000040000FA\r\n");
    row("DOWNLOAD ends verify pass", "DOWNLOAD\r\n", 1, "END", VbColor::Green, 0, 0);
    row("ERROR during verify", "ERROR\r\n", 1, "ERROR", VbColor::Red, 0, 1);
    row("FORMAT", "FORMAT\r\n", 0, "", VbColor::Navy, 0, 1);
    row("lower case ok", "ok\r\n", 0, "NO FILE", VbColor::Navy, 0, 1);
    row("unknown", "HELLO\r\n", 0, "NO FILE", VbColor::Navy, 0, 1);
    // When one answer holds several keywords, the first in this order decides.
    row("VER= before OK", "VER=1 OK\r\n", 0, "NO FILE", VbColor::Navy, 0, 1, "", "READY");
    row("ERROR before DOWNLOAD", "DOWNLOAD ERROR\r\n", 0, "ERROR", VbColor::Red, 0, 1);
    row("DOWNLOAD before OK", "OK DOWNLOAD\r\n", 0, "VERIFY", VbColor::Navy, 1, 1,
        "BOOT#020000040000FA\r\n");
    row("FORMAT before OK", "OK FORMAT\r\n", 0, "", VbColor::Navy, 0, 1);
}

void CollectTest::parserKeywords() {
    QFETCH(QByteArray, answer);
    QFETCH(int, verifyMode);
    QFETCH(QString, barText);
    QFETCH(quint32, barColor);
    QFETCH(int, verifyModeAfter);
    QFETCH(int, fileLoadedAfter);
    QFETCH(QByteArray, sent);
    QFETCH(QString, label);
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
    QCOMPARE(c.port->written.size(), sent.isEmpty() ? 0u : 1u);
    if (!sent.isEmpty()) {
        QCOMPARE(c.port->written[0], sent.toStdString());
    }
    QCOMPARE(c->Label2->text(), label);
    if (barText.isEmpty()) {
        QCOMPARE(c->vbalProgressBar1->value(), 0);
    }
}

QTEST_MAIN(CollectTest)
#include "tst_collect.moc"
