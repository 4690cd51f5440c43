// The board engine, one scripted conversation at a time: the faults a production line met, each
// told as the events that showed it.
#include "Frames.h"
#include "pure/BoardEngine.h"

#include <QtTest>

using namespace quenta;
using quenta::testing::answerFrame;
using quenta::testing::commandFrame;

namespace {

const std::string kAddress0 = ":020000040000FA";
const std::string kData1 = ":0400000001020304F2";
const std::string kData2 = ":0400100005060708D2";
const std::string kData3 = ":04002000090A0B0CB2";
const std::string kEnd = ":00000001FF";
const std::vector<std::string> kFile{kData1, kData2, kData3, kEnd};

// One conversation: what the engine sent, in order, and how it ended.
struct Talk {
    explicit Talk(BoardTask task) : engine(task) { take(engine.start()); }
    explicit Talk(JobKind kind, int retries = 2)
        : Talk(BoardTask{kind, &kFile, std::nullopt, 0, {100, retries, 1000}, 115200, {}, {}}) {}

    void take(Step step) {
        for (std::string &bytes : step.send) {
            sent.push_back(std::move(bytes));
        }
        if (step.end) {
            end = step.end;
        }
    }
    void read(std::string_view bytes) { take(engine.received(bytes)); }
    void timer() { take(engine.timerFired()); }
    // Answers the probe and each line given, in order, one read each.
    void answer(std::initializer_list<std::string_view> reads) {
        for (const std::string_view bytes : reads) {
            read(bytes);
        }
    }
    QString last() const { return QString::fromStdString(sent.empty() ? "" : sent.back()); }
    QString message() const { return QString::fromStdString(end ? end->message : "(not ended)"); }

    BoardEngine engine;
    std::vector<std::string> sent;
    std::optional<JobOutcome> end;
};

} // namespace

class Engine : public QObject {
    Q_OBJECT
private slots:
    // Records 0: address 0000, 1-10: data, 11: address 0001, 12-20: data, 21: end of file.
    void resumePoint_data() {
        QTest::addColumn<int>("unanswered");
        QTest::addColumn<int>("addressRecord"); // -1: none
        QTest::addColumn<int>("from");
        QTest::newRow("near the start") << 3 << -1 << 0;
        QTest::newRow("within the second segment") << 20 << 11 << 12;
        QTest::newRow("right after an address record: eight data records back") << 12 << 0 << 3;
        QTest::newRow("across an address record") << 14 << 0 << 5;
    }
    void resumePoint() {
        QFETCH(int, unanswered);
        QFETCH(int, addressRecord);
        QFETCH(int, from);
        std::vector<std::string> records(22, kData1);
        records[0] = kAddress0;
        records[11] = ":020000040001F9";
        records[21] = kEnd;
        const ResumePoint point =
            quenta::resumePoint(records, static_cast<std::size_t>(unanswered));
        QCOMPARE(point.addressRecord ? static_cast<int>(*point.addressRecord) : -1, addressRecord);
        QCOMPARE(static_cast<int>(point.from), from);
    }

    void cleanFlash() {
        Talk talk(JobKind::Flash);
        talk.answer({"VER=4.1\r\n", "OK\r\n", "OK\r\n", "OK\r\n", "DOWNLOAD\r\n", "OK\r\n",
                     "OK\r\n", "OK\r\n", "DOWNLOAD\r\n"});
        QVERIFY(!talk.end);
        talk.timer(); // the quiet after the last verify answer
        QCOMPARE(talk.message(), QStringLiteral("downloaded and verified"));
        const std::vector<std::string> expected{"BOOTi\r\n",
                                                "BOOT:0400000001020304F2\r\n",
                                                "BOOT:0400100005060708D2\r\n",
                                                "BOOT:04002000090A0B0CB2\r\n",
                                                "BOOT:00000001FF\r\n",
                                                "BOOT#0400000001020304F2\r\n",
                                                "BOOT#0400100005060708D2\r\n",
                                                "BOOT#04002000090A0B0CB2\r\n",
                                                "BOOT#00000001FF\r\n"};
        QCOMPARE(talk.sent, expected);
    }

    // Every answer of a read counts, in order.
    void answersOfOneRead() {
        Talk drained(JobKind::Verify);
        drained.answer({"VER=4.1\r\n", "OK\r\n"});
        drained.timer(); // line 2 is late: sent again
        QCOMPARE(drained.sent.size(), std::size_t{4});
        drained.read("OK\r\nOK\r\n"); // its late answer and the answer to the re-send
        QCOMPARE(drained.last(), QStringLiteral("BOOT#04002000090A0B0CB2\r\n"));

        Talk closing(JobKind::Verify);
        closing.answer({"VER=4.1\r\n", "OK\r\n", "OK\r\n", "OK\r\n"});
        closing.read("DOWNLOAD\r\nERROR\r\n");
        QVERIFY(closing.end);
        QCOMPARE(closing.end->result, JobResult::Refused);
    }

    // Anything after the last verify answer, even a piece of an answer, voids the pass.
    void extraAfterTheEnd() {
        Talk talk(JobKind::Verify);
        talk.answer({"VER=4.1\r\n", "OK\r\n", "OK\r\n", "OK\r\n", "DOWNLOAD\r\n", "OK"});
        talk.timer();
        QVERIFY(!talk.end);
        QCOMPARE(talk.last(), QStringLiteral("BOOT#0400000001020304F2\r\n"));
    }

    // A verify disturbed by a late answer is not trusted, though every line answered "OK".
    void disturbedVerifyRunsAgain() {
        Talk talk(JobKind::Verify);
        talk.answer({"VER=4.1\r\n", "OK\r\n"});
        talk.timer();
        talk.answer({"OK\r\n", "OK\r\n", "OK\r\n", "DOWNLOAD\r\n"});
        QVERIFY(!talk.end);
        talk.timer(); // quiet: a fresh pass from line 1
        QCOMPARE(talk.last(), QStringLiteral("BOOT#0400000001020304F2\r\n"));
        QCOMPARE(talk.engine.verifyPasses(), 2);
    }

    // A board slow once is answered twice; the second answer is not taken for the next line's.
    void slowOnce() {
        Talk talk(JobKind::Flash);
        talk.answer({"VER=4.1\r\n", "OK\r\n"});
        talk.timer();
        talk.answer({"OK\r\n", "OK\r\n", "OK\r\n", "DOWNLOAD\r\n"});
        talk.timer(); // quiet before the verify
        talk.answer({"OK\r\n", "OK\r\n", "OK\r\n", "DOWNLOAD\r\n"});
        talk.timer();
        QCOMPARE(talk.message(), QStringLiteral("downloaded and verified"));
        QCOMPARE(talk.engine.retries(), 1);
    }

    // After a drop a verify starts again from its first line: what the board knew is gone.
    void dropInVerify_data() {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("next");
        QTest::newRow("same board") << "VER=4.1\r\n"
                                    << "BOOT#0400000001020304F2\r\n";
        QTest::newRow("another board") << "VER=5.0\r\n"
                                       << "BOOT:0400000001020304F2\r\n";
    }
    void dropInVerify() {
        QFETCH(QString, version);
        QFETCH(QString, next);
        Talk talk(JobKind::Flash);
        talk.answer(
            {"VER=4.1\r\n", "OK\r\n", "OK\r\n", "OK\r\n", "DOWNLOAD\r\n", "OK\r\n", "OK\r\n"});
        const Step lost = talk.engine.portLost("gone");
        QVERIFY(lost.awaitPort);
        talk.take(talk.engine.portBack());
        QCOMPARE(talk.last(), QStringLiteral("BOOTi\r\n"));
        talk.read(version.toStdString());
        QCOMPARE(talk.last(), next);
        if (version.contains(QLatin1String("5.0"))) {
            talk.answer({"OK\r\n", "OK\r\n", "OK\r\n", "DOWNLOAD\r\n", "OK\r\n", "OK\r\n", "OK\r\n",
                         "DOWNLOAD\r\n"});
            talk.timer();
            QVERIFY2(talk.message().contains(QLatin1String("changed across a drop")),
                     qPrintable(talk.message()));
        }
    }

    // A port that drops before the bootloader answered is waited for, as during a download.
    void dropWhileProbing() {
        Talk talk(JobKind::Flash);
        const Step lost = talk.engine.portLost("gone");
        QVERIFY(lost.awaitPort && !lost.end);
        talk.take(talk.engine.portBack());
        talk.read("VER=4.1\r\n");
        QCOMPARE(talk.last(), QStringLiteral("BOOT:0400000001020304F2\r\n"));
    }

    void resumesAreBounded() {
        Talk talk(JobKind::Flash);
        talk.answer({"VER=4.1\r\n", "OK\r\n"});
        for (int drop = 1; drop <= kMaxResumes; ++drop) {
            talk.take(talk.engine.portLost("gone"));
            talk.take(talk.engine.portBack());
            talk.read("VER=4.1\r\n");
            QVERIFY(!talk.end);
        }
        talk.take(talk.engine.portLost("gone"));
        QVERIFY(talk.end);
        QCOMPARE(talk.end->result, JobResult::PortLost);
        QVERIFY2(talk.message().contains(QLatin1String("11 times")), qPrintable(talk.message()));
        QCOMPARE(talk.engine.resumed(), 10);
    }

    void wrongAnswerToEveryTry() {
        Talk talk(JobKind::Flash);
        talk.read("VER=4.1\r\n");
        for (int i = 0; i < 3; ++i) {
            talk.read("VER=4.1\r\n");
            talk.timer();
        }
        QCOMPARE(talk.end->result, JobResult::Refused);
        QCOMPARE(
            talk.message(),
            QStringLiteral("line 1: the board answered \"VER=4.1\" where \"OK\" was due, 3 tries"));
    }

    // On a bus: the new address must be free; the answer may come from it.
    void setAddress_data() {
        QTest::addColumn<bool>("taken");
        QTest::newRow("free, answered from the new address") << false;
        QTest::newRow("taken by another board") << true;
    }
    void setAddress() {
        QFETCH(bool, taken);
        Talk talk(BoardTask{JobKind::SetAddress, nullptr, 3, 7, {100, 1, 1000}, 115200, {}, {}});
        talk.read(answerFrame(3, "VER=4.1\r\n"));
        QCOMPARE(talk.last(), QString::fromStdString(commandFrame(7, "BOOTi\r\n")));
        if (taken) {
            talk.read(answerFrame(7, "VER=4.0\r\n"));
            QCOMPARE(talk.end->result, JobResult::Refused);
            QCOMPARE(talk.sent.size(), std::size_t{2});
            return;
        }
        talk.timer();
        talk.timer();
        QCOMPARE(talk.last(), QString::fromStdString(commandFrame(3, "BOOT$07\r\n")));
        talk.read(answerFrame(7, "OK\r\n"));
        QCOMPARE(talk.end->result, JobResult::Ok);
    }

    // A board on USB leaves the port when its firmware starts.
    void installLeavesThePort() {
        Talk talk(JobKind::Install);
        talk.read("VER=4.1\r\n");
        QCOMPARE(talk.last(), QStringLiteral("BOOTg\r\n"));
        talk.take(talk.engine.portLost("gone"));
        QCOMPARE(talk.end->result, JobResult::Ok);
    }
};

QTEST_GUILESS_MAIN(Engine)
#include "tst_engine.moc"
