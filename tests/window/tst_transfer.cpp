// Loading a firmware file, streaming its lines and the single device commands.
#include "FakeHosted.h"
#include "controls/VbColor.h"
#include "link/ModbusFrame.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace quenta;
using namespace quenta::testing;

namespace {

const char *const kR1 = ":020000040000FA";
const char *const kR2 = ":10000000FFFFFFFF0CEF00F0FFFFFFFFFFFFFFFF12";
const char *const kR3 = ":00000001FF";
const QString kData = QStringLiteral(QUENTA_SOURCE_DIR "/tests/data/");

// An open window, probing stopped, and a folder for the files the operator picks.
struct Loading : FakeWindow {
    Loading() {
        window->Text1->setText(QStringLiteral("0"));
        window->BTNOpenCom->click();
        port->written.clear();
    }
    QString file(const QString &name, const QByteArray &content) {
        const QString path = dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size()) {
            qFatal("cannot write %s", qPrintable(path));
        }
        return path;
    }
    void pick(const QString &path) { chooser->answers.push_back(path); }
    // Picks a file with these lines and presses "Open File and Download".
    void load(const QByteArray &content) {
        pick(file(QStringLiteral("f%1.hex").arg(chooser->shown), content));
        window->Command3->click();
    }
    void answer(const std::string &text) {
        window->RxAnswer = text;
        window->Com_Parser();
    }
    QTemporaryDir dir;
};

} // namespace

class TransferTest : public QObject {
    Q_OBJECT
private slots:
    void threeRecordJob();
    void verifyAloneThenCancel();
    void loadFailure_data();
    void loadFailure();
    void nineThousandLinesLoad();
    void failedLoadKeepsPreviousTable();
    void itemsOfALine_data();
    void itemsOfALine();
    void oneLineFileWrapsAtOnce();
    void loadWithClosedPortAdvancesOnly();
    void send();
    void setAddress_data();
    void setAddress();
    void setAddressFramedWithCurrentAddress();
    void installAndVersion();
};

void TransferTest::threeRecordJob() {
    Loading l;
    l.pick(l.file("job.hex", QByteArray(kR1) + "\r\n" + kR2 + "\r\n" + kR3 + "\r\n"));
    struct Row {
        const char *answer; // nullptr: the load itself
        std::string sent;   // empty: nothing
        int lineIndex;
        int verifyMode;
        const char *barText;
        int barValue;
    };
    const std::string r1 = kR1, r2 = kR2, r3 = kR3;
    const auto verify = [](std::string s) {
        std::replace(s.begin(), s.end(), ':', '#');
        return s;
    };
    const Row rows[] = {
        {nullptr, "BOOT" + r1 + "\r\n", 1, 0, "DOWNLOAD", 1},
        {"OK\r\n", "BOOT" + r2 + "\r\n", 2, 0, "DOWNLOAD", 2},
        {"OK\r\n", "BOOT" + r3 + "\r\n", 0, 0, "DOWNLOAD", 3},
        {"DOWNLOAD\r\n", "BOOT" + verify(r1) + "\r\n", 1, 1, "VERIFY", 1},
        {"OK\r\n", "BOOT" + verify(r2) + "\r\n", 2, 1, "VERIFY", 2},
        {"OK\r\n", "BOOT" + verify(r3) + "\r\n", 0, 1, "VERIFY", 3},
        {"DOWNLOAD\r\n", "", 0, 0, "END", 3},
    };
    for (const Row &row : rows) {
        const std::size_t before = l.port->written.size();
        if (row.answer == nullptr) {
            l->Command3->click();
        } else {
            l.answer(row.answer);
        }
        if (row.sent.empty()) {
            QCOMPARE(l.port->written.size(), before);
        } else {
            QCOMPARE(l.port->written.size(), before + 1);
            QCOMPARE(l.port->written.back(), row.sent);
        }
        QCOMPARE(l->LineIndex, row.lineIndex);
        QCOMPARE(l->VerifyMode, row.verifyMode);
        QCOMPARE(l->vbalProgressBar1->text(), QString::fromLatin1(row.barText));
        QCOMPARE(l->vbalProgressBar1->value(), row.barValue);
    }
    QCOMPARE(l->vbalProgressBar1->barColor(), VbColor::Green);
    QCOMPARE(l->vbalProgressBar1->max(), 3);
    QCOMPARE(l->vbalProgressBar1->fraction(), 1.0);
    QCOMPARE(l->FileLoaded, 0);
    QCOMPARE(l->TransferRequested, 1);
    QCOMPARE(l.chooser->filter, QStringLiteral("HEX files (*.hex)|*.hex"));
    QVERIFY(l.messages->shown.empty());
}

void TransferTest::verifyAloneThenCancel() {
    Loading l;
    l.pick(l.file("v.hex", QByteArray(kR1) + "\n" + kR3 + "\n"));
    l->Command2->click();
    QCOMPARE(l.port->written, std::vector<std::string>{"BOOT#020000040000FA\r\n"});
    QCOMPARE(l->VerifyMode, 1);
    QCOMPARE(l->vbalProgressBar1->text(), QStringLiteral("VERIFY"));
    QCOMPARE(l->FileLoaded, 1);
    // The operator cancels the next choice: the table and the job stay as they are.
    l->Command3->click();
    QCOMPARE(l.messages->shown.size(), std::size_t{1});
    QCOMPARE(l.messages->shown[0].prompt, QStringLiteral("Cancel"));
    QCOMPARE(l.messages->shown[0].style, 0);
    QVERIFY(l.messages->shown[0].title.isEmpty());
    QCOMPARE(l->LineCount, 2);
    QCOMPARE(l->LineIndex, 1);
    QCOMPARE(l->vbalProgressBar1->text(), QStringLiteral("VERIFY"));
    QCOMPARE(l->TransferRequested, 1);
    QCOMPARE(l.port->written.size(), std::size_t{1});
}

void TransferTest::loadFailure_data() {
    QTest::addColumn<QString>("file"); // in the temporary folder unless absolute
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("prompt"); // empty: not compared
    QTest::newRow("missing file") << "gone.hex"
                                  << "Error#2"
                                  << "No such file or directory";
    QTest::newRow("directory") << "."
                               << "Error#21"
                               << "";
    QTest::newRow("9001 lines") << kData + "lines-9001.hex"
                                << "Error#9"
                                << "Subscript out of range";
    QTest::newRow("empty file") << "empty.hex"
                                << ""
                                << "";
}

void TransferTest::loadFailure() {
    QFETCH(QString, file);
    QFETCH(QString, title);
    QFETCH(QString, prompt);
    Loading l;
    if (file == "empty.hex") {
        l.file(file, {});
    }
    l.pick(QDir::isAbsolutePath(file) ? file : l.dir.filePath(file));
    l->Command3->click();
    QCOMPARE(l.messages->shown.size(), std::size_t{1});
    QCOMPARE(l.messages->shown[0].title, title);
    if (!prompt.isEmpty()) {
        QCOMPARE(l.messages->shown[0].prompt, prompt);
    }
    QCOMPARE(l.messages->shown[0].style, 16);
    QVERIFY(l.port->written.empty());
    QCOMPARE(l->LineCount, 0);
    QCOMPARE(l->FileLoaded, 0);
    QCOMPARE(l->vbalProgressBar1->text(), QStringLiteral("NO FILE"));
}

void TransferTest::nineThousandLinesLoad() {
    Loading l;
    l.pick(kData + "lines-9000.hex");
    l->Command3->click();
    QVERIFY(l.messages->shown.empty());
    QCOMPARE(l->LineCount, frmSerial::kMaxLines);
    QCOMPARE(l->vbalProgressBar1->max(), 9000);
    QCOMPARE(l->HexLines[1], std::string(":020000040000FA"));
    QCOMPARE(l->HexLines[9000], std::string(":00000001FF"));
    QCOMPARE(l.port->written.size(), std::size_t{1});
}

void TransferTest::failedLoadKeepsPreviousTable() {
    Loading l;
    l.load(":01\n:02\n:03\n:04\n:05\n:06\n:07\n");
    l.answer("OK\r\n");
    QCOMPARE(l->LineIndex, 2);
    l.pick(kData + "lines-9001.hex");
    l->Command3->click();
    QCOMPARE(l->LineCount, 7);
    QCOMPARE(l->LineIndex, 2);
    QCOMPARE(l->FileLoaded, 1);
    l.answer("OK\r\n");
    QCOMPARE(l.port->written.back(), std::string("BOOT:03\r\n"));
    // A shorter file replaces the table; the lines behind it stay but are never sent.
    l.load(":AA\n:BB\n:CC\n:DD\n:EE\n");
    QCOMPARE(l->LineCount, 5);
    QCOMPARE(l->HexLines[5], std::string(":EE"));
    QCOMPARE(l->HexLines[6], std::string(":06"));
    for (int i = 0; i < 5; ++i) {
        l.answer("OK\r\n");
    }
    QCOMPARE(l.port->written.back(), std::string("BOOT:AA\r\n"));
}

void TransferTest::itemsOfALine_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("CR LF") << QByteArray(":01\r\n:02\r\n") << QStringList{":01", ":02"};
    QTest::newRow("LF") << QByteArray(":01\n:02") << QStringList{":01", ":02"};
    QTest::newRow("CR") << QByteArray(":01\r:02\r") << QStringList{":01", ":02"};
    QTest::newRow("comma") << QByteArray(":01,:02\n") << QStringList{":01", ":02"};
    QTest::newRow("quoted") << QByteArray("\":01,x\"\n") << QStringList{":01,x"};
    QTest::newRow("empty line") << QByteArray(":01\n\n:02\n") << QStringList{":01", "", ":02"};
}

void TransferTest::itemsOfALine() {
    QFETCH(QByteArray, content);
    QFETCH(QStringList, entries);
    Loading l;
    l.load(content);
    QCOMPARE(l->LineCount, entries.size());
    for (qsizetype i = 0; i < entries.size(); ++i) {
        QCOMPARE(QString::fromStdString(l->HexLines[static_cast<std::size_t>(i + 1)]), entries[i]);
    }
}

void TransferTest::oneLineFileWrapsAtOnce() {
    Loading l;
    l.load(QByteArray(kR3) + "\n");
    QCOMPARE(l->LineIndex, 0);
    l.answer("OK\r\n");
    QCOMPARE(l->LineIndex, 0);
    QCOMPARE(l.port->written.size(), std::size_t{2});
    QCOMPARE(l.port->written[0], l.port->written[1]);
}

void TransferTest::loadWithClosedPortAdvancesOnly() {
    Loading l;
    l->BTNCloseCom->click();
    l.load(QByteArray(kR1) + "\n" + kR3 + "\n");
    QVERIFY(l.port->written.empty());
    QCOMPARE(l->LineIndex, 1);
    QCOMPARE(l->vbalProgressBar1->value(), 1);
    QCOMPARE(l->vbalProgressBar1->text(), QStringLiteral("DOWNLOAD"));
}

void TransferTest::send() {
    Loading l;
    l->Command5->click(); // no file yet: nothing to send
    l.answer("OK\r\n");
    QVERIFY(l.port->written.empty());
    QCOMPARE(l->LineIndex, 0);
    l.load(QByteArray(kR1) + "\n" + kR2 + "\n" + kR3 + "\n");
    l->Command5->click(); // out of turn: the next line goes
    QCOMPARE(l.port->written.back(), std::string("BOOT") + kR2 + "\r\n");
    QCOMPARE(l->LineIndex, 2);
}

void TransferTest::setAddress_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("10") << "10" << QByteArray("BOOT$0A\r\n");
    QTest::newRow("255") << "255" << QByteArray("BOOT$FF\r\n");
    QTest::newRow("-1") << "-1" << QByteArray("BOOT$FF\r\n");
    QTest::newRow("hex") << "&H1F" << QByteArray("BOOT$1F\r\n");
    QTest::newRow("2.5 rounds to even") << "2.5" << QByteArray("BOOT$02\r\n");
    QTest::newRow("256") << "256" << QByteArray();
    QTest::newRow("0") << "0" << QByteArray();
    QTest::newRow("empty") << "" << QByteArray();
    QTest::newRow("letters") << "abc" << QByteArray();
    QTest::newRow("beyond 32 bits") << "1e12" << QByteArray();
}

void TransferTest::setAddress() {
    QFETCH(QString, text);
    QFETCH(QByteArray, sent);
    Loading l;
    l->Text2->setText(text);
    l->Command1->click();
    QCOMPARE(l.port->written.size(), sent.isEmpty() ? 0u : 1u);
    if (!sent.isEmpty()) {
        QCOMPARE(l.port->written[0], sent.toStdString());
    }
    QVERIFY(l.messages->shown.empty());
    QCOMPARE(l->Text2->text(), text);
    QCOMPARE(l->Text1->text(), QStringLiteral("0"));
    QCOMPARE(l->Command1->text(), QStringLiteral("Set Addr"));
}

void TransferTest::setAddressFramedWithCurrentAddress() {
    Loading l;
    l->Check1->setCheckState(Qt::Checked);
    l->Text1->setText(QStringLiteral("7"));
    l->Command1->click();
    QCOMPARE(l.port->written, std::vector<std::string>{modbusFrame(7, "BOOT$0A\r\n")});
}

void TransferTest::installAndVersion() {
    Loading l;
    l->FileLoaded = 1;
    l->Text8->setText(QStringLiteral("kept"));
    l->Command6->click();
    QCOMPARE(l.port->written, (std::vector<std::string>{"BOOTg\r\n", "VER\r\n"}));
    QCOMPARE(l.sleeper->slept, std::vector<int>{1000});
    QCOMPARE(l->FileLoaded, 0);
    QCOMPARE(l->Text8->text(), QStringLiteral("kept"));

    l->FileLoaded = 1;
    l->Command4->click();
    QCOMPARE(l.port->written.back(), std::string("BOOTi\r\n"));
    QCOMPARE(l.port->written.size(), std::size_t{3});
    QVERIFY(l->Text8->text().isEmpty());
    QCOMPARE(l->FileLoaded, 0);
}

QTEST_MAIN(TransferTest)
#include "tst_transfer.moc"
