// The board engine, one scripted conversation at a time: the faults a production line met, each
// told as the events that showed it.
#include "Frames.h"
#include "pure/CommandLines.h"
#include "pure/engine/BoardEngine.h"

#include <QTest>

using namespace quenta;
using quenta::testing::answerFrame;
using quenta::testing::commandFrame;
using quenta::testing::qbytes;

namespace {

const std::string kAddress0 = ":020000040000FA";
const std::string kData1 = ":0400000001020304F2";
const std::string kData2 = ":0400100005060708D2";
const std::string kData3 = ":04002000090A0B0CB2";
const std::string kData4 = ":040030000D0E0F1092";
const std::string kData5 = ":040040001112131472";
const std::string kData6 = ":040050001516171852";
const std::string kEnd = ":00000001FF";
const std::vector<std::string> kFile{kData1, kData2, kData3, kEnd};
// Five and eight lines, each another record.
const std::vector<std::string> kTwinFile{kAddress0, kData1, kData2, kData3, kEnd};
const std::vector<std::string> kEightLines{kAddress0, kData1, kData2, kData3,
                                           kData4,    kData5, kData6, kEnd};

BoardTask taskOf(JobKind kind, const std::vector<std::string> *records = &kFile) {
    BoardTask task;
    task.kind = kind;
    task.records = records;
    task.patience = {1000, 2, 1000};
    return task;
}

// The window's way: no probe, every answer waited for.
BoardTask windowTask(JobKind kind, const std::vector<std::string> *records = &kFile) {
    BoardTask task = taskOf(kind, records);
    task.patience = kWindowPatience;
    task.probeFirst = false;
    return task;
}

// One conversation on a virtual clock: what the engine sent, in order, the events between, and
// how it ended.
struct Talk {
    explicit Talk(const BoardTask &given) : task(given), engine(given) { take(engine.start(now)); }

    void take(Step step) {
        for (std::string &bytes : step.send) {
            seen << named(bytes);
            sent.push_back(std::move(bytes));
        }
        if (step.timerMs) {
            alarm = *step.timerMs > 0 ? std::optional(now + Micros{*step.timerMs} * 1000)
                                      : std::nullopt;
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
    void quiet(Micros afterUs = 40000) {
        seen << "Q";
        take(engine.quiet(now += afterUs));
    }
    // The timer runs out.
    void timer() {
        seen << "T";
        now = alarm.value_or(now);
        alarm.reset();
        take(engine.timerFired(now));
    }
    // The port drops ("L"), and comes back at once ("D").
    void lose() {
        const Step lost = engine.portLost("gone", now);
        seen << (lost.awaitPort ? "D" : "L");
        take(lost);
    }
    void drop() {
        lose();
        take(engine.portBack(now));
    }
    // Plays a script, one event a word: "T" the timer runs out, "Q" the line is quiet, "D" or "L"
    // the port drops, "+N" the next read comes N ms after the event before; any other word is a
    // read, "/" standing for CR LF, on a bus a frame from the board, or frames from "@address:"
    // ("@addressb:" with the wrong marker).
    void play(const QByteArray &script) {
        Micros afterUs = 5000;
        for (const QByteArray &word : script.split(' ')) {
            if (word == "T" || word == "Q" || word == "D" || word == "L") {
                (word == "T" ? timer() : word == "Q" ? quiet() : word == "D" ? drop() : lose());
            } else if (word.startsWith('+')) {
                afterUs = word.mid(1).toLongLong() * 1000;
                continue;
            } else if (word.startsWith('@')) {
                std::string frames;
                for (const QByteArray &frame : word.mid(1).split('@')) {
                    const qsizetype colon = frame.indexOf(':');
                    const bool marker = frame[colon - 1] == 'b'; // a wrong marker
                    frames += answerFrame(std::uint8_t(frame.left(colon - marker).toInt()),
                                          frame.mid(colon + 1).replace('/', "\r\n").toStdString(),
                                          marker ? 'b' : 'B');
                }
                read(frames, afterUs);
            } else {
                const std::string text = QByteArray(word).replace('/', "\r\n").toStdString();
                read(task.address ? answerFrame(*task.address, text) : text, afterUs);
            }
            afterUs = 5000;
        }
    }
    // A command as the glance shows it: "D2" and "V2" download and verify line 2, else the text
    // after "BOOT"; on a bus "@address:" before a frame to another board.
    QString named(std::string bytes) const {
        QString to;
        if ((task.address || task.kind == JobKind::Scan) && !task.frontEndFrames) {
            const std::uint8_t address = bytes.front();
            to = address == task.address ? "" : QStringLiteral("@%1:").arg(address);
            bytes = bytes.substr(1, bytes.size() - 3);
        }
        for (std::size_t line = 0; task.records && line < task.records->size(); ++line) {
            for (const bool verify : {false, true}) {
                const std::string &record = (*task.records)[line];
                if (bytes == (verify ? verifyLine(record) : downloadLine(record))) {
                    return to + (verify ? "V" : "D") + QString::number(line + 1);
                }
            }
        }
        return to + QString::fromStdString(bytes.substr(4, bytes.size() - 6));
    }
    QString message() const { return QString::fromStdString(end ? end->message : "(not ended)"); }
    // What went out and the events between, then how the job ended.
    QString glance() const {
        return seen.join(' ') + " | " +
               (end ? QString::fromLatin1(resultName(end->result)) + ": " : QString()) + message();
    }

    BoardTask task;
    Micros now = 0;
    BoardEngine engine;
    std::vector<std::string> sent;
    QStringList seen;
    std::optional<Micros> alarm;
    std::optional<JobOutcome> end;
};

} // namespace

Q_DECLARE_METATYPE(quenta::BoardTask)

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

    // Conversations as scripts (see Talk::play) and the glance of each: what went out, with the
    // events between, and how the job ended. The probe's answer, where there is one, comes first.
    void conversations_data() {
        QTest::addColumn<BoardTask>("task");
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("glance");
        const auto row = [](const char *name, const BoardTask &task, const char *script,
                            const char *glance) {
            QTest::newRow(name) << task << QByteArray(script) << QString(glance);
        };
        const BoardTask flash = taskOf(JobKind::Flash);
        const BoardTask verify = taskOf(JobKind::Verify);
        BoardTask flashNoProbe = flash;
        flashNoProbe.probeFirst = false;
        // Every answer of a read counts, in order.
        row("a late answer and the re-send's in one read", verify, "VER=4.1/ OK/ T OK/OK/",
            "i V1 V2 T V2 V3 | (not ended)");
        row("ERROR after the end record's answer, in its read", verify,
            "VER=4.1/ OK/ OK/ OK/ DOWNLOAD/ERROR/",
            "i V1 V2 V3 V4 | refused: line 4 or an earlier one: verify: the board answered "
            "\"ERROR\"");
        // Anything after the last verify answer, even a piece of an answer, voids the pass.
        row("a piece of an answer after the end", verify, "VER=4.1/ OK/ OK/ OK/ DOWNLOAD/ OK T",
            "i V1 V2 V3 V4 T V1 | (not ended)");
        // After the end record's answer the flasher listens as long as its timeout, in which
        // anything more is heard: a board that answers every verify line at once and tells a
        // difference only at the end record. A recipe may pin a shorter timeout: an answer later
        // than it is not waited for.
        row("the verdict in 300 ms, timeout 1000", verify,
            "VER=4.1/ OK/ OK/ OK/ DOWNLOAD/ +295 ERROR/",
            "i V1 V2 V3 V4 | refused: line 4 or an earlier one: verify: the board answered "
            "\"ERROR\"");
        row("the verdict just within the timeout", verify,
            "VER=4.1/ OK/ OK/ OK/ DOWNLOAD/ +985 ERROR/",
            "i V1 V2 V3 V4 | refused: line 4 or an earlier one: verify: the board answered "
            "\"ERROR\"");
        BoardTask pinned = verify;
        pinned.patience.timeoutMs = 250;
        row("the verdict later than a pinned timeout", pinned,
            "VER=4.1/ OK/ OK/ OK/ DOWNLOAD/ +295 ERROR/", "i V1 V2 V3 V4 T | ok: verified");
        // An ERROR that began before the line in flight went out answers the line written before
        // it, or an earlier one, in that line's pass: across the start of the verify, the
        // download's. "OK" to the end record is sent again; the ERROR after it answers it.
        row("ERROR before the line went out, in the download", flash, "VER=4.1/ OK/ OK/ERROR/",
            "i D1 D2 | refused: line 2 or an earlier one: the board answered \"ERROR\"");
        row("ERROR before the line went out, after the download's end record", flash,
            "VER=4.1/ OK/ OK/ OK/ DOWNLOAD/ERROR/",
            "i D1 D2 D3 D4 | refused: line 4 or an earlier one: the board answered \"ERROR\"");
        row("ERROR before the line went out, in the verify", flash,
            "VER=4.1/ OK/ OK/ OK/ DOWNLOAD/ OK/ERROR/",
            "i D1 D2 D3 D4 V1 | refused: line 1 or an earlier one: verify: the board answered "
            "\"ERROR\"");
        row("ERROR before the line went out, before a re-send", flash,
            "VER=4.1/ OK/ OK/ OK/ DOWNLOAD/ OK/ OK/ OK/ OK/ERROR/",
            "i D1 D2 D3 D4 V1 V2 V3 V4 | refused: line 4 or an earlier one: verify: the board "
            "answered \"ERROR\"");
        // The board's ERROR names the line in flight when it began after that line went out; when
        // an answer too many comes in the quiet after it, a stray or a copy stood in for an answer
        // before, and it may answer an earlier line.
        row("ERROR names the line in flight", verify, "VER=4.1/ OK/ ERROR/ T",
            "i V1 V2 T | refused: line 2: verify: the board answered \"ERROR\"");
        row("ERROR after a stray OK stood in for line 1's answer", verify,
            "VER=4.1/ OK/ ERROR/ OK/ T",
            "i V1 V2 T | refused: line 2 or an earlier one: verify: the board answered \"ERROR\"");
        // A quiet that a drop or a stop cut short cannot tell that nothing more would have come.
        row("ERROR in flight, its quiet cut by a drop", verify, "VER=4.1/ OK/ ERROR/ D",
            "i V1 V2 L | refused: line 2 or an earlier one: verify: the board answered \"ERROR\"");
        // A verify disturbed by a late answer is not trusted, though every line answered "OK".
        row("a disturbed verify runs again", verify, "VER=4.1/ OK/ T OK/ OK/ OK/ DOWNLOAD/ T",
            "i V1 V2 T V2 V3 V4 T V1 | (not ended)");
        // Two verify passes must come in a row: a disturbed pass between two undisturbed ones
        // starts the count again.
        BoardTask twoPasses = verify;
        twoPasses.patience.verifyPasses = 2;
        row("two verify passes in a row", twoPasses,
            "VER=4.1/ OK/ OK/ OK/ DOWNLOAD/ T OK/ OK/OK/ OK/ DOWNLOAD/ T OK/ OK/ OK/ DOWNLOAD/ T "
            "OK/ OK/ OK/ DOWNLOAD/ T",
            "i V1 V2 V3 V4 T V1 V2 V3 V4 T V1 V2 V3 V4 T V1 V2 V3 V4 T | ok: verified");
        // A verify of a board whose line after the twin differs: an answer comes twice, and the
        // ERROR of the next line is lost. A twin that began before the next line went out is an
        // extra answer and voids the pass; one that came after it is, for one pass, the board's
        // answer, and the lost ERROR evens the count: only a second pass, which the two faults
        // must meet again, tells it.
        BoardTask twin = taskOf(JobKind::Verify, &kTwinFile);
        twin.patience.disturbedPasses = 1;
        row("twin answers back to back in one read", twin, "VER=4.1/ OK/ OK/OK/ OK/ DOWNLOAD/ T",
            "i V1 V2 T | refused: two answers to line 2: verify again");
        row("twin answer split across the moment the next line went out", twin,
            "VER=4.1/ OK/ OK/O K/ OK/ DOWNLOAD/ T",
            "i V1 V2 V3 T | refused: two answers to line 2: verify again");
        row("twin answer in the next read, one pass", twin, "VER=4.1/ OK/ OK/ OK/ OK/ DOWNLOAD/ T",
            "i V1 V2 V3 V4 V5 T | ok: verified");
        twin.patience.verifyPasses = 2;
        row("twin answer in the next read, two passes", twin,
            "VER=4.1/ OK/ OK/ OK/ OK/ DOWNLOAD/ T OK/ OK/ ERROR/ T",
            "i V1 V2 V3 V4 V5 T V1 V2 V3 T | refused: line 3: verify: the board answered "
            "\"ERROR\"");
        // "FORMAT" is the board's word of what it does: the line's answer is still to come, and it
        // carries the job on, as the flasher runs it and as the window does.
        row("FORMAT, flasher", flashNoProbe,
            "FORMAT/ OK/ OK/ OK/ DOWNLOAD/ OK/ FORMAT/ OK/ OK/ DOWNLOAD/ T",
            "D1 D2 D3 D4 V1 V2 V3 V4 T | ok: downloaded and verified");
        row("FORMAT, window", windowTask(JobKind::Flash),
            "FORMAT/ OK/ OK/ OK/ DOWNLOAD/ OK/ FORMAT/ OK/ OK/ DOWNLOAD/",
            "D1 D2 D3 D4 V1 V2 V3 V4 | ok: downloaded and verified");
        // An answer without its line end is taken once the line stays quiet: a plain one of four
        // characters or more with a keyword, a Modbus frame whose CRC is right without CR LF.
        row("answers without line ends, plain", verify, "VER=4.1 Q OK/ OK/ OK/ DOWNLOAD Q T",
            "i Q V1 V2 V3 V4 Q T | ok: verified");
        BoardTask bus = verify;
        bus.address = 3;
        row("answers without line ends, Modbus", bus, "VER=4.1 Q OK Q OK Q OK Q DOWNLOAD Q T",
            "i Q V1 Q V2 Q V3 Q V4 Q T | ok: verified");
        // Address 17's "OK" frame holds a shorter run of bytes closed by a valid CRC; it is still
        // one answer, and an unreadable frame after it still voids the verify, though a copy of
        // the answer before stands in for it.
        BoardTask seventeen = verify;
        seventeen.address = 17;
        row("an unreadable frame after an answer", seventeen,
            "VER=4.1/ OK/ @17b:ERROR/ OK/ OK/ DOWNLOAD/ T", "i V1 V2 V3 V4 T V1 | (not ended)");
        // The window's verify, which has one pass, ends at the end record's answer, however the
        // reads cut it.
        row("window verify, LF of CR LF alone", windowTask(JobKind::Verify),
            "OK/ OK/ OK/ DOWNLOAD\r \n", "V1 V2 V3 V4 | ok: verified");
        row("window verify, CR LF alone", windowTask(JobKind::Verify), "OK/ OK/ OK/ DOWNLOAD /",
            "V1 V2 V3 V4 | ok: verified");
        // After a re-send the line's other answer is waited for as long as two timeouts for each
        // send: a board slow once answers late, and that answer is not the next line's.
        row("a re-sent line drains", verify, "VER=4.1/ T +100 OK/ +3900 OK/",
            "i V1 T V1 V2 | (not ended)");
        row("a board slow once", flash,
            "VER=4.1/ OK/ T OK/ OK/ OK/ DOWNLOAD/ T OK/ OK/ OK/ DOWNLOAD/ T",
            "i D1 D2 T D2 D3 D4 T V1 V2 V3 V4 T | ok: downloaded and verified");
        row("a wrong answer to every try", flash, "VER=4.1/ VER=4.1/ T VER=4.1/ T VER=4.1/ T",
            "i D1 T D1 T D1 T | refused: line 1: the board answered \"VER=4.1\" where \"OK\" was "
            "due, 3 tries");
        // After a drop a verify starts again from its first line: what the board knew is gone,
        // and another board behind the port is flashed afresh.
        row("a drop in the verify", flash, "VER=4.1/ OK/ OK/ OK/ DOWNLOAD/ OK/ OK/ D VER=4.1/",
            "i D1 D2 D3 D4 V1 V2 V3 D i V1 | (not ended)");
        row("another board after a drop", flash,
            "VER=4.1/ OK/ OK/ OK/ DOWNLOAD/ OK/ OK/ D VER=5.0/ OK/ OK/ OK/ DOWNLOAD/ OK/ OK/ OK/ "
            "DOWNLOAD/ T",
            "i D1 D2 D3 D4 V1 V2 V3 D i D1 D2 D3 D4 V1 V2 V3 V4 T | ok: downloaded and verified "
            "(the board changed across a drop, from \"VER=4.1\" to \"VER=5.0\", and was judged "
            "from scratch)");
        // After a drop, an ERROR in the quiet after the probes came before any line went out on
        // the port as it is now: it is refused, and names no line.
        row("ERROR after a drop", flash, "VER=4.1/ OK/ D T VER=4.1/ ERROR/",
            "i D1 D2 D i T i | refused: before line 2: the board answered \"ERROR\"");
        // A port that drops before the bootloader answered is waited for, as during a download.
        row("a drop while probing", flash, "D VER=4.1/", "i D i D1 | (not ended)");
        QByteArray drops = "VER=4.1/ OK/";
        QString resumed = "i D1 D2";
        for (int drop = 1; drop <= kMaxResumes; ++drop) {
            drops += " D VER=4.1/";
            resumed += " D i D1";
        }
        row("resumes are bounded", flash, drops + " L",
            qPrintable(resumed +
                       " L | port-lost: the port went away 11 times, the last at line 1 of "
                       "the download (gone): the board or its cable keeps failing"));
        // A board on USB leaves the port when its firmware starts.
        row("install leaves the port", taskOf(JobKind::Install), "VER=4.1/ L",
            "i g L | ok: the firmware was started; the board left the port, as a board on USB does "
            "when its firmware starts");
        // On a bus the new address must be free; the answer may come from it.
        BoardTask setAddress = taskOf(JobKind::SetAddress, nullptr);
        setAddress.patience.retries = 1;
        setAddress.address = 3;
        setAddress.newAddress = 7;
        row("set a free address", setAddress, "VER=4.1/ T T @7:OK/",
            "i @7:i T @7:i T $07 | ok: the board's address is now 7");
        row("set an address another board has", setAddress, "VER=4.1/ @7:VER=4.0/",
            "i @7:i | refused: the address 7 answers already: another board on the bus has it; "
            "nothing was changed");
    }
    void conversations() {
        QFETCH(BoardTask, task);
        QFETCH(QByteArray, script);
        QFETCH(QString, glance);
        Talk talk(task);
        talk.play(script);
        QCOMPARE(talk.glance(), glance);
    }

    // The window's verify ends at the end record's answer though (on a bus, the board at address
    // 10, a LF) another board's answer ends in a read of its own: that is no frame of the board's.
    void windowVerifyEndsAmongOtherBoards() {
        BoardTask task = windowTask(JobKind::Verify);
        task.frontEndFrames = true;
        task.address = 10;
        Talk talk(task);
        const std::string ok = answerFrame(10, "OK\r\n");
        const std::string other = answerFrame(11, "OK\r\n");
        for (const std::string &read :
             {ok, other.substr(0, 6), other.substr(6) + ok, ok, answerFrame(10, "DOWNLOAD\r\n")}) {
            talk.read(read);
        }
        QCOMPARE(talk.message(), QStringLiteral("verified"));
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
        Talk talk(window ? windowTask(JobKind::Flash, &kEightLines)
                         : taskOf(JobKind::Flash, &kEightLines));
        QStringList expected;
        if (!window) {
            talk.read("VER=4.1\r\n");
            expected << "i";
        }
        for (const auto &[pass, times] : {std::pair('D', downloadMs), std::pair('V', verifyMs)}) {
            for (int line = 0; line < 8; ++line) {
                talk.read(line < 7 ? "OK\r\n" : "DOWNLOAD\r\n", Micros{times[line]} * 100);
                expected << pass + QString::number(line + 1);
            }
        }
        if (!window) {
            talk.timer(); // the quiet after the last verify answer
            expected << "T";
        }
        QCOMPARE(talk.glance(), expected.join(' ') + " | ok: downloaded and verified");
    }

    // A scan asks each address in turn and takes every board's answer, late or not; a sweep that
    // finds nobody runs again until the wait is over.
    void scan() {
        BoardTask task = taskOf(JobKind::Scan, nullptr);
        task.scanAddresses = {4, 5, 6};
        task.probeIntervalMs = 50;
        task.patience.waitMs = 200;
        Talk empty(task);
        empty.play("T T T T T T");
        QCOMPARE(empty.glance(), "@4:i T @5:i T @6:i T @4:i T @5:i T @6:i T | no-answer: no board "
                                 "answered on the addresses 4..6 at 115200 baud: check the speed "
                                 "and the Modbus setting; power the boards");
        Talk bus(task); // 4 answers late, and a board not asked
        bus.play("T @4:VER=4.1/@9:VER=9/ T @6:VER=4.2/@4:VER=4.1/ T");
        QCOMPARE(bus.glance(), "@4:i T @5:i T @6:i T | ok: 2 boards answered");
        QCOMPARE(bus.engine.found()[1].version, std::string("VER=4.2"));
        task.firstOnly = true;
        Talk first(task);
        first.play("D @4:VER=4.1/");
        QCOMPARE(first.glance(), "@4:i D @4:i | ok: 1 board answered");
    }
};

QTEST_GUILESS_MAIN(Engine)
#include "tst_engine.moc"
