// The board engine, one scripted conversation at a time: the faults a production line met, each
// told as the events that showed it.
#include "Frames.h"
#include "pure/BoardEngine.h"
#include "pure/CommandLines.h"

#include <QtTest>

using namespace quenta;
using quenta::testing::answerFrame;
using quenta::testing::commandFrame;
using quenta::testing::qbytes;

namespace {

const std::string kAddress0 = ":020000040000FA";
const std::string kData1 = ":0400000001020304F2";
const std::string kData2 = ":0400100005060708D2";
const std::string kData3 = ":04002000090A0B0CB2";
const std::string kEnd = ":00000001FF";
const std::vector<std::string> kFile{kData1, kData2, kData3, kEnd};

BoardTask taskOf(JobKind kind, int retries = 2) {
    BoardTask task;
    task.kind = kind;
    task.records = &kFile;
    task.patience = {1000, retries, 1000};
    return task;
}

// One conversation on a virtual clock: what the engine sent, in order, the timer it asked for
// last, and how it ended.
struct Talk {
    explicit Talk(BoardTask task) : engine(task) { take(engine.start(now)); }
    explicit Talk(JobKind kind, int retries = 2) : Talk(taskOf(kind, retries)) {}

    void take(Step step) {
        for (std::string &bytes : step.send) {
            sent.push_back(std::move(bytes));
        }
        if (step.timerMs) {
            timerMs = *step.timerMs;
            alarm = timerMs > 0 ? std::optional(now + Micros{timerMs} * 1000) : std::nullopt;
        }
        if (step.end) {
            end = step.end;
        }
    }
    // A read `afterUs` after the event before; a timer that runs out before it fires first.
    void read(std::string_view bytes, Micros afterUs = 5000) {
        const Micros at = now + afterUs;
        if (alarm && *alarm <= at) {
            timer();
        }
        if (!end) {
            take(engine.received(bytes, now = at));
        }
    }
    // The line stays quiet a while: an answer without its line end is taken.
    void quiet(Micros afterUs = 40000) { take(engine.quiet(now += afterUs)); }
    // The timer runs out.
    void timer() {
        now = alarm.value_or(now);
        alarm.reset();
        take(engine.timerFired(now));
    }
    // Answers the probe and each line given, in order, one read each.
    void answer(std::initializer_list<std::string_view> reads, Micros afterUs = 5000) {
        for (const std::string_view bytes : reads) {
            read(bytes, afterUs);
        }
    }
    // The port drops and comes back at once.
    void drop() {
        take(engine.portLost("gone", now));
        take(engine.portBack(now));
    }
    QString last() const { return QString::fromStdString(sent.empty() ? "" : sent.back()); }
    QString message() const { return QString::fromStdString(end ? end->message : "(not ended)"); }

    Micros now = 0;
    BoardEngine engine;
    std::vector<std::string> sent;
    int timerMs = 0;
    std::optional<Micros> alarm;
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

    // An ERROR that began before the line in flight went out answers the line written before it,
    // or an earlier one, in that line's pass: across the start of the verify, the download's.
    void errorBeforeTheLineWentOut_data() {
        QTest::addColumn<QByteArrayList>("reads"); // after the probe's answer
        QTest::addColumn<QString>("message");
        QTest::newRow("in the download")
            << QByteArrayList{"OK\r\n", "OK\r\nERROR\r\n"}
            << "line 2 or an earlier one: the board answered \"ERROR\"";
        QTest::newRow("after the download's end record")
            << QByteArrayList{"OK\r\n", "OK\r\n", "OK\r\n", "DOWNLOAD\r\nERROR\r\n"}
            << "line 4 or an earlier one: the board answered \"ERROR\"";
        QTest::newRow("in the verify")
            << QByteArrayList{"OK\r\n", "OK\r\n", "OK\r\n", "DOWNLOAD\r\n", "OK\r\nERROR\r\n"}
            << "line 1 or an earlier one: verify: the board answered \"ERROR\"";
        // "OK" to the end record is sent again; the ERROR after it answers the end record.
        QTest::newRow("before a re-send")
            << QByteArrayList{"OK\r\n", "OK\r\n", "OK\r\n", "DOWNLOAD\r\n",
                              "OK\r\n", "OK\r\n", "OK\r\n", "OK\r\nERROR\r\n"}
            << "line 4 or an earlier one: verify: the board answered \"ERROR\"";
    }
    void errorBeforeTheLineWentOut() {
        QFETCH(QByteArrayList, reads);
        QFETCH(QString, message);
        Talk talk(JobKind::Flash);
        talk.read("VER=4.1\r\n");
        for (const QByteArray &read : reads) {
            talk.read(read.toStdString());
        }
        QVERIFY(talk.end);
        QCOMPARE(talk.message(), message);
    }

    // Address 17's "OK" frame holds a shorter run of bytes closed by a valid CRC; it is still one
    // answer, and an unreadable frame after it still voids the verify, though a copy of the answer
    // before stands in for it.
    void unreadableAfterAnAnswer() {
        BoardTask task = taskOf(JobKind::Verify);
        task.address = 0x11;
        Talk talk(task);
        talk.read(answerFrame(0x11, "VER=4.1\r\n"));
        talk.read(answerFrame(0x11, "OK\r\n"));
        talk.read(answerFrame(0x11, "ERROR\r\n", 'b'));
        talk.answer({answerFrame(0x11, "OK\r\n"), answerFrame(0x11, "OK\r\n"),
                     answerFrame(0x11, "DOWNLOAD\r\n")});
        talk.timer();
        QVERIFY2(!talk.end, qPrintable(talk.message()));
        QCOMPARE(talk.engine.verifyPasses(), 2);
    }

    // The window's verify, which has one pass, ends green at the end record's answer, however the
    // reads cut it, and though (on a bus, the board at address 10, a LF) another board's answer
    // ends in a read of its own: that is no frame of the board's.
    void windowVerifyEnds_data() {
        QTest::addColumn<int>("address"); // -1: plain
        QTest::addColumn<QByteArrayList>("reads");
        QTest::newRow("LF of CR LF")
            << -1 << QByteArrayList{"OK\r\n", "OK\r\n", "OK\r\n", "DOWNLOAD\r", "\n"};
        QTest::newRow("CR LF") << -1
                               << QByteArrayList{"OK\r\n", "OK\r\n", "OK\r\n", "DOWNLOAD", "\r\n"};
        const QByteArray ok = qbytes(answerFrame(10, "OK\r\n"));
        const QByteArray other = qbytes(answerFrame(11, "OK\r\n"));
        QTest::newRow("another board's line end")
            << 10
            << QByteArrayList{ok, other.left(6), other.mid(6) + ok, ok,
                              qbytes(answerFrame(10, "DOWNLOAD\r\n"))};
    }
    void windowVerifyEnds() {
        QFETCH(int, address);
        QFETCH(QByteArrayList, reads);
        BoardTask task = taskOf(JobKind::Verify);
        task.patience = kWindowPatience;
        task.probeFirst = false;
        if (address >= 0) {
            task.frontEndFrames = true;
            task.address = static_cast<std::uint8_t>(address);
        }
        Talk talk(task);
        for (const QByteArray &read : reads) {
            talk.read(read.toStdString());
        }
        QCOMPARE(talk.message(), QStringLiteral("verified"));
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

    // A verify of a board whose line after the twin differs: an answer comes twice, and the ERROR
    // of the next line is lost. A twin that began before the next line went out is an extra
    // answer and voids the pass; one that came after it is, for one pass, the board's answer, and
    // the lost ERROR evens the count: only a second pass, which the two faults must meet again,
    // tells it.
    void twinAnswer_data() {
        QTest::addColumn<QByteArrayList>("reads"); // line 2's answer and its twin
        QTest::addColumn<int>("passes");
        QTest::addColumn<QString>("message");
        QTest::newRow("back to back in one read")
            << QByteArrayList{"OK\r\nOK\r\n"} << 1 << "two answers to line 2: verify again";
        QTest::newRow("split across the moment the next line went out")
            << QByteArrayList{"OK\r\nO", "K\r\n"} << 1 << "two answers to line 2: verify again";
        QTest::newRow("in the next read, one pass")
            << QByteArrayList{"OK\r\n", "OK\r\n"} << 1 << "verified";
        QTest::newRow("in the next read, two passes")
            << QByteArrayList{"OK\r\n", "OK\r\n"} << 2
            << "line 3: verify: the board answered \"ERROR\"";
    }
    void twinAnswer() {
        QFETCH(QByteArrayList, reads);
        QFETCH(int, passes);
        QFETCH(QString, message);
        const std::vector<std::string> file{kData1, kData2, kData3, kData1, kEnd};
        BoardTask task = taskOf(JobKind::Verify);
        task.records = &file;
        task.patience.verifyPasses = passes;
        task.patience.disturbedPasses = 1;
        Talk talk(task);
        talk.answer({"VER=4.1\r\n", "OK\r\n"});
        for (const QByteArray &read : reads) {
            talk.read(read.toStdString());
        }
        // Line 3's ERROR was lost; the answers of lines 4 and 5 follow.
        talk.answer({"OK\r\n", "DOWNLOAD\r\n"});
        for (int pass = 1; pass < passes && !talk.end; ++pass) {
            talk.timer(); // the closing quiet: the next pass, undisturbed
            talk.answer({"OK\r\n", "OK\r\n", "ERROR\r\n"});
        }
        talk.timer();
        QCOMPARE(talk.message(), message);
    }

    // After the end record's answer the flasher listens as long as its timeout, in which anything
    // more is heard: a board that answers every verify line at once and tells a difference only at
    // the end record, in 300 ms, while a stray "DOWNLOAD" came 5 ms after the end record went out.
    // A recipe may pin a shorter timeout: an answer later than it is not waited for.
    void closingQuiet_data() {
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<int>("errorMs"); // the real answer's time after the end record
        QTest::addColumn<QString>("message");
        const QString refused = "line 4 or an earlier one: verify: the board answered \"ERROR\"";
        QTest::newRow("verdict in 300 ms, timeout 1000") << 1000 << 300 << refused;
        QTest::newRow("verdict just within the timeout") << 1000 << 990 << refused;
        QTest::newRow("verdict later than a pinned timeout of 250") << 250 << 300 << "verified";
    }
    void closingQuiet() {
        QFETCH(int, timeoutMs);
        QFETCH(int, errorMs);
        QFETCH(QString, message);
        BoardTask task = taskOf(JobKind::Verify);
        task.patience.timeoutMs = timeoutMs;
        Talk talk(task);
        talk.answer({"VER=4.1\r\n", "OK\r\n", "OK\r\n", "OK\r\n"}, 1000);
        talk.read("DOWNLOAD\r\n", 5000);
        QCOMPARE(talk.timerMs, timeoutMs);
        talk.read("ERROR\r\n", Micros{errorMs} * 1000 - 5000);
        if (!talk.end) {
            talk.timer();
        }
        QCOMPARE(talk.message(), message);
    }

    // A board's pace is its own business: good boards of every pace end ok, each line sent once,
    // one verify pass, as the flasher runs them and as the window does (no timeout).
    void goodBoardsOfAnyPace_data() {
        QTest::addColumn<bool>("window");
        QTest::addColumn<QList<int>>("downloadMs"); // answer times of lines 1 to 8, in 0.1 ms
        QTest::addColumn<QList<int>>("verifyMs");
        const QList<int> even(8, 50);
        const QList<int> erase{10, 700, 700, 700, 10, 10, 10, 10}; // line 1: an address record
        const QList<int> page{50, 50, 50, 400, 50, 50, 50, 400};
        const QList<int> jitter{0, 300, 5, 250, 10, 290, 1, 120};
        const QList<int> quick{8, 9, 7, 6, 9, 8, 7, 6};
        for (const bool window : {false, true}) {
            const char *who = window ? "window: " : "flasher: ";
            const auto row = [&](const char *name, const QList<int> &down, const QList<int> &ver) {
                QTest::newRow(qPrintable(QString(who) + name)) << window << down << ver;
            };
            row("evenly", even, even);
            row("slow first lines (a page erase), then 1 ms", erase, erase);
            row("a slow page every fourth line", page, page);
            row("jitter of 0 to 30 ms", jitter, jitter);
            row("a verify much quicker than the download", page, quick);
            row("answers the moment the line is out, after slower ones",
                QList<int>{50, 50, 50, 50, 0, 0, 0, 0}, QList<int>{50, 50, 50, 50, 0, 0, 0, 0});
            row("a short end record answered sooner",
                QList<int>{200, 200, 200, 200, 200, 200, 200, 2},
                QList<int>{90, 90, 90, 90, 90, 90, 90, 1});
        }
    }
    void goodBoardsOfAnyPace() {
        QFETCH(bool, window);
        QFETCH(QList<int>, downloadMs);
        QFETCH(QList<int>, verifyMs);
        const std::vector<std::string> file{kAddress0, kData1, kData2, kData3,
                                            kData1,    kData2, kData3, kEnd};
        BoardTask task = taskOf(JobKind::Flash);
        task.records = &file;
        if (window) {
            task.patience = kWindowPatience;
            task.probeFirst = false;
        }
        Talk talk(task);
        if (!window) {
            talk.read("VER=4.1\r\n");
        }
        for (const QList<int> &times : {downloadMs, verifyMs}) {
            for (int line = 0; line < 8; ++line) {
                talk.read(line < 7 ? "OK\r\n" : "DOWNLOAD\r\n", Micros{times[line]} * 100);
            }
        }
        if (!window) {
            QVERIFY(!talk.end);
            talk.timer(); // the quiet after the last verify answer
        }
        QCOMPARE(talk.message(), QStringLiteral("downloaded and verified"));
        QCOMPARE(talk.engine.verifyPasses(), 1);
        std::vector<std::string> expected =
            window ? std::vector<std::string>{} : std::vector<std::string>{"BOOTi\r\n"};
        for (const auto line : {&downloadLine, &verifyLine}) {
            for (const std::string &record : file) {
                expected.push_back((*line)(record));
            }
        }
        QCOMPARE(talk.sent, expected);
    }

    // The board's ERROR names the line in flight when it began after that line went out; when an
    // answer too many comes in the quiet after it, a stray or a copy stood in for an answer before,
    // and it may answer an earlier line.
    void errorNamesItsLine_data() {
        QTest::addColumn<QByteArrayList>("reads"); // after the probe's answer
        QTest::addColumn<QString>("message");
        QTest::newRow("the line in flight") << QByteArrayList{"OK\r\n", "ERROR\r\n"}
                                            << "line 2: verify: the board answered \"ERROR\"";
        QTest::newRow("a stray OK stood in for line 1's answer")
            << QByteArrayList{"OK\r\n", "ERROR\r\n", "OK\r\n"}
            << "line 2 or an earlier one: verify: the board answered \"ERROR\"";
    }
    void errorNamesItsLine() {
        QFETCH(QByteArrayList, reads);
        QFETCH(QString, message);
        Talk talk(JobKind::Verify);
        talk.read("VER=4.1\r\n");
        for (const QByteArray &read : reads) {
            talk.read(read.toStdString());
        }
        const std::size_t sent = talk.sent.size();
        talk.timer(); // the quiet after the ERROR
        QCOMPARE(talk.sent.size(), sent);
        QCOMPARE(talk.message(), message);
    }

    // "FORMAT" is the board's word of what it does: the line's answer is still to come, and it
    // carries the job on, as the flasher runs it and as the window does.
    void formatWaitsForTheAnswer_data() {
        QTest::addColumn<bool>("window");
        QTest::newRow("flasher") << false;
        QTest::newRow("window") << true;
    }
    void formatWaitsForTheAnswer() {
        QFETCH(bool, window);
        BoardTask task = taskOf(JobKind::Flash);
        if (window) {
            task.patience = kWindowPatience;
            task.probeFirst = false;
        } else {
            task.probeFirst = false;
        }
        Talk talk(task);
        talk.answer({"FORMAT\r\n", "OK\r\n", "OK\r\n", "OK\r\n", "DOWNLOAD\r\n", "OK\r\n",
                     "FORMAT\r\n", "OK\r\n", "OK\r\n", "DOWNLOAD\r\n"});
        if (!window) {
            talk.timer();
        }
        QCOMPARE(talk.message(), QStringLiteral("downloaded and verified"));
        QCOMPARE(talk.engine.retries(), 0);
    }

    // An answer without its line end is taken once the line stays quiet: a plain one of four
    // characters or more with a keyword, a Modbus frame whose CRC is right without CR LF.
    void answersWithoutLineEnds_data() {
        QTest::addColumn<int>("address"); // -1: plain
        QTest::addColumn<QByteArrayList>("answers");
        QTest::newRow("plain") << -1
                               << QByteArrayList{"VER=4.1", "OK\r\n", "OK\r\n", "OK\r\n",
                                                 "DOWNLOAD"};
        const auto frame = [](std::string_view text) { return qbytes(answerFrame(3, text)); };
        QTest::newRow("Modbus") << 3
                                << QByteArrayList{frame("VER=4.1"), frame("OK"), frame("OK"),
                                                  frame("OK"), frame("DOWNLOAD")};
    }
    void answersWithoutLineEnds() {
        QFETCH(int, address);
        QFETCH(QByteArrayList, answers);
        BoardTask task = taskOf(JobKind::Verify);
        if (address >= 0) {
            task.address = static_cast<std::uint8_t>(address);
        }
        Talk talk(task);
        for (const QByteArray &answer : answers) {
            const std::size_t sent = talk.sent.size();
            talk.read(answer.toStdString());
            if (talk.engine.answerPending()) {
                QCOMPARE(talk.sent.size(), sent); // not taken before the line is quiet
                talk.quiet();
            }
        }
        talk.timer();
        QCOMPARE(talk.message(), QStringLiteral("verified"));
        QCOMPARE(talk.sent.size(), std::size_t{5});
    }

    // Two verify passes must come in a row: a disturbed pass between them starts the count again.
    void verifyPassesInARow() {
        BoardTask task = taskOf(JobKind::Verify);
        task.patience.verifyPasses = 2;
        Talk talk(task);
        talk.read("VER=4.1\r\n");
        const QByteArrayList clean{"OK\r\n", "OK\r\n", "OK\r\n", "DOWNLOAD\r\n"};
        const QByteArrayList disturbed{"OK\r\n", "OK\r\nOK\r\n", "OK\r\n", "DOWNLOAD\r\n"};
        for (const QByteArrayList &pass : {clean, disturbed, clean, clean}) {
            QVERIFY2(!talk.end, qPrintable(talk.message()));
            for (const QByteArray &read : pass) {
                talk.read(read.toStdString());
            }
            talk.timer(); // the quiet after the end record, or before a fresh pass
        }
        QCOMPARE(talk.message(), QStringLiteral("verified"));
        QCOMPARE(talk.engine.verifyPasses(), 4);
    }

    // After a re-send the line's other answer is waited for as long as two timeouts for each
    // send: a board slow once answers late, and that answer is not the next line's.
    void reSentLineDrains() {
        Talk talk(JobKind::Verify);
        talk.read("VER=4.1\r\n");
        talk.timer(); // line 1 goes out again
        talk.read("OK\r\n", 100000);
        const std::size_t sent = talk.sent.size();
        talk.read("OK\r\n", 3900000);
        QCOMPARE(talk.sent.size(), sent + 1);
        QCOMPARE(talk.last(), QStringLiteral("BOOT#0400100005060708D2\r\n"));
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
        const Step lost = talk.engine.portLost("gone", talk.now);
        QVERIFY(lost.awaitPort);
        talk.take(talk.engine.portBack(talk.now));
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

    // After a drop, an ERROR in the quiet after the probes came before any line went out on the
    // port as it is now: it is refused, and names no line.
    void errorAfterADrop() {
        Talk talk(JobKind::Flash);
        talk.answer({"VER=4.1\r\n", "OK\r\n"});
        talk.drop();
        talk.timer(); // the first probe gets no answer: a second goes out
        talk.read("VER=4.1\r\n");
        QVERIFY(!talk.end);
        talk.read("ERROR\r\n");
        QVERIFY(talk.end);
        QCOMPARE(talk.message(), QStringLiteral("before line 2: the board answered \"ERROR\""));
    }

    // A port that drops before the bootloader answered is waited for, as during a download.
    void dropWhileProbing() {
        Talk talk(JobKind::Flash);
        const Step lost = talk.engine.portLost("gone", talk.now);
        QVERIFY(lost.awaitPort && !lost.end);
        talk.take(talk.engine.portBack(talk.now));
        talk.read("VER=4.1\r\n");
        QCOMPARE(talk.last(), QStringLiteral("BOOT:0400000001020304F2\r\n"));
    }

    void resumesAreBounded() {
        Talk talk(JobKind::Flash);
        talk.answer({"VER=4.1\r\n", "OK\r\n"});
        for (int drop = 1; drop <= kMaxResumes; ++drop) {
            talk.drop();
            talk.read("VER=4.1\r\n");
            QVERIFY(!talk.end);
        }
        talk.take(talk.engine.portLost("gone", talk.now));
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
        BoardTask task = taskOf(JobKind::SetAddress, 1);
        task.records = nullptr;
        task.address = 3;
        task.newAddress = 7;
        Talk talk(task);
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

    // A scan asks each address in turn and takes every board's answer, late or not; a sweep that
    // finds nobody runs again until the wait is over.
    void scan() {
        BoardTask task = taskOf(JobKind::Scan);
        task.records = nullptr;
        task.scanAddresses = {4, 5, 6};
        task.probeIntervalMs = 50;
        task.patience.waitMs = 200;
        Talk empty(task);
        for (int probe = 0; probe < 5; ++probe) {
            empty.timer();
        }
        QCOMPARE(empty.sent,
                 (std::vector{commandFrame(4, "BOOTi\r\n"), commandFrame(5, "BOOTi\r\n"),
                              commandFrame(6, "BOOTi\r\n"), commandFrame(4, "BOOTi\r\n"),
                              commandFrame(5, "BOOTi\r\n"), commandFrame(6, "BOOTi\r\n")}));
        QVERIFY(!empty.end);
        empty.timer();
        QCOMPARE(empty.message(), QStringLiteral("no board answered on the addresses 4..6 at "
                                                 "115200 baud: check the speed and the Modbus "
                                                 "setting; power the boards"));

        Talk bus(task);
        bus.timer();
        bus.read(answerFrame(4, "VER=4.1\r\n") + answerFrame(9, "VER=9\r\n")); // 4 answers late
        bus.timer();
        bus.read(answerFrame(6, "VER=4.2\r\n") + answerFrame(4, "VER=4.1\r\n"));
        bus.timer();
        QCOMPARE(bus.message(), QStringLiteral("2 boards answered"));
        QCOMPARE(bus.engine.found().size(), std::size_t{2});
        QCOMPARE(bus.engine.found()[1].version, std::string("VER=4.2"));

        task.firstOnly = true;
        Talk first(task);
        first.drop();
        QCOMPARE(first.sent.back(), commandFrame(4, "BOOTi\r\n"));
        first.read(answerFrame(4, "VER=4.1\r\n"));
        QCOMPARE(first.message(), QStringLiteral("1 board answered"));
    }

    // A board on USB leaves the port when its firmware starts.
    void installLeavesThePort() {
        Talk talk(JobKind::Install);
        talk.read("VER=4.1\r\n");
        QCOMPARE(talk.last(), QStringLiteral("BOOTg\r\n"));
        talk.take(talk.engine.portLost("gone", talk.now));
        QCOMPARE(talk.end->result, JobResult::Ok);
    }
};

QTEST_GUILESS_MAIN(Engine)
#include "tst_engine.moc"
