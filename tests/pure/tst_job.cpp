// The window's job without any window: what the board's answers do to a job and the lines it sends.
#include "pure/Colors.h"
#include "pure/CommandLines.h"
#include "pure/engine/FirmwareJob.h"

#include <QTest>

using namespace quenta;

namespace {
const std::vector<std::string> kRecords = {
    ":020000040000FA", ":10000000FFFFFFFF0CEF00F0FFFFFFFFFFFFFFFF12", ":00000001FF"};

// The window's job polled every 30 ms, as its answer timer does: what it sent ("D1" the first
// download line, "V1" the first verify line), the bar it left, the answer box, and the flags.
QString run(bool verifyAlone, const QByteArrayList &polls) {
    FirmwareJob job;
    job.load(kRecords, verifyAlone);
    QStringList sent;
    QString bar = verifyAlone ? "VERIFY" : "READY";
    QString box;
    Micros now = 0;
    std::optional<Micros> alarm;
    const auto show = [&](const JobView &view) {
        for (const std::string &line : view.lines) {
            for (std::size_t record = 0; record < kRecords.size(); ++record) {
                for (const bool verify : {false, true}) {
                    if (line == (verify ? verifyLine : downloadLine)(kRecords[record])) {
                        sent << (verify ? "V" : "D") + QString::number(record + 1);
                    }
                }
            }
        }
        bar = view.barText ? QString::fromStdString(*view.barText) : bar;
        if (view.barColor) {
            bar += *view.barColor == VbColor::Green ? " green" : " red";
        }
        box = view.answerBox ? QString::fromStdString(*view.answerBox) : box;
        if (view.timerMs) {
            alarm = *view.timerMs > 0 ? std::optional(now + *view.timerMs * 1000) : std::nullopt;
        }
    };
    show(job.start(std::nullopt, now));
    for (const QByteArray &poll : polls) {
        now += 30000;
        if (!poll.isEmpty()) {
            show(job.received(poll.toStdString(), now));
        } else if (job.answerPending()) {
            show(job.quiet(now));
        }
        if (alarm && *alarm <= now) {
            alarm.reset();
            show(job.timerFired(now));
        }
    }
    return QStringLiteral("%1 | %2 | %3 | V%4 F%5 I%6")
        .arg(sent.join(' '), bar, box)
        .arg(job.VerifyMode)
        .arg(job.FileLoaded)
        .arg(job.LineIndex);
}

const QByteArrayList kQuiet(8, QByteArray());
} // namespace

class TestJob : public QObject {
    Q_OBJECT
private slots:
    // Green "END" at the end record's answer of a verify pass in which every line got exactly one
    // answer, in order; anything else is red "ERROR", with why where the board's own answer, shown
    // already, does not say it.
    void windowJob_data() {
        QTest::addColumn<bool>("verifyAlone");
        QTest::addColumn<QByteArrayList>("polls"); // an empty poll read nothing
        QTest::addColumn<QString>("outcome");
        const QByteArrayList ok = {"OK\r\n", "OK\r\n", "DOWNLOAD\r\n"};
        QTest::newRow("download and verify")
            << false << ok + ok << "D1 D2 D3 V1 V2 V3 | END green |  | V0 F0 I0";
        QTest::newRow("the operator's ? after END")
            << true << ok + QByteArrayList{"", "VER=1.07\r\n"}
            << "V1 V2 V3 | END green |  | V0 F0 I0";
        QTest::newRow("ERROR in the same poll as the end record's answer")
            << true << QByteArrayList{"OK\r\n", "OK\r\n", "DOWNLOAD\r\nERROR\r\n"}
            << "V1 V2 V3 | ERROR red |  | V0 F0 I0";
        QTest::newRow("the end record's answer without its line end, then a quiet poll")
            << true << QByteArrayList{"OK\r\n", "OK\r\n", "DOWNLOAD", ""}
            << "V1 V2 V3 | END green |  | V0 F0 I0";
        QTest::newRow("DOWNLOAD to verify line 1 of 3")
            << true << QByteArrayList{"DOWNLOAD\r\n"}
            << "V1 | ERROR red | line 1: the board answered \"DOWNLOAD\" where \"OK\" was due | "
               "V0 F0 I1";
        QTest::newRow("two answers in one poll")
            << true << QByteArrayList{"OK\r\nDOWNLOAD\r\n"}
            << "V1 | ERROR red | two answers to line 1: verify again | V0 F0 I1";
        QTest::newRow("OK to the end record")
            << false << QByteArrayList{"OK\r\n", "OK\r\n", "OK\r\n"} + kQuiet
            << "D1 D2 D3 | ERROR red | line 3, the last: the board answered \"OK\" and never "
               "reported the end of the file | V0 F0 I0";
        QTest::newRow("ERROR in the verify: the box keeps the board's answer")
            << true << QByteArrayList{"OK\r\n", "ERROR\r\n"} << "V1 V2 | ERROR red |  | V0 F0 I2";
        QTest::newRow("FORMAT waits for the line's answer, which carries the job on")
            << false << QByteArrayList{"FORMAT\r\n", "", "OK\r\n"}
            << "D1 D2 | DOWNLOAD |  | V0 F1 I2";
        QTest::newRow("a line that cannot be read")
            << true << QByteArrayList{"OK\r\n", "#?x\r\n"}
            << "V1 V2 | ERROR red | an answer to line 2 could not be read: verify again | V0 F0 I2";
        QTest::newRow("twin answers in the download are only waited through")
            << false << QByteArrayList{"OK\r\nOK\r\n", "", "OK\r\n", "DOWNLOAD\r\n"} + kQuiet + ok
            << "D1 D2 D3 V1 V2 V3 | END green |  | V0 F0 I0";
        QTest::newRow("an answer that waits for ever")
            << false << QByteArrayList{"OK\r\n"} + kQuiet + kQuiet
            << "D1 D2 | DOWNLOAD |  | V0 F1 I2";
    }
    void windowJob() {
        QFETCH(bool, verifyAlone);
        QFETCH(QByteArrayList, polls);
        QFETCH(QString, outcome);
        QCOMPARE(run(verifyAlone, polls), outcome);
    }
};

QTEST_APPLESS_MAIN(TestJob)
#include "tst_job.moc"
