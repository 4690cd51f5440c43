// Plain (unframed) answers: collecting what each poll reads until an answer can be handed on.

#include "link/PlainAnswer.h"

#include <QByteArray>
#include <QList>
#include <QTest>

#include <string>

using namespace quenta;

namespace {

// What one poll hands on; an empty array stands for "nothing" (an answer is never empty).
QByteArray poll(PlainReceiver &rx, const QByteArray &read) {
    const std::optional<std::string> answer = takePlainAnswer(rx, read.toStdString());
    if (!answer)
        return {};
    if (answer->empty())
        return QByteArray("<empty answer handed on>");
    return QByteArray::fromStdString(*answer);
}

QList<QByteArray> quiet(int count) {
    return QList<QByteArray>(count, QByteArray());
}

} // namespace

class TestPlainAnswer : public QObject {
    Q_OBJECT

private slots:
    void polls_data();
    void polls();
    void pendingKeptAfterAnswer_data();
    void pendingKeptAfterAnswer();
    void quietTicksCountOnlyQuietPolls();
    void shortTextNeverHandedOnByQuietPolls_data();
    void shortTextNeverHandedOnByQuietPolls();
    void longRunWithoutLineEnd_data();
    void longRunWithoutLineEnd();
    void runUpToLimitWaits();
};

void TestPlainAnswer::polls_data() {
    QTest::addColumn<QList<QByteArray>>("reads");
    QTest::addColumn<QList<QByteArray>>("handedOn");

    using L = QList<QByteArray>;
    QTest::newRow("one answer in one read") << L{"OK\r\n"} << L{"OK\r\n"};
    QTest::newRow("two answers in one read") << L{"OK\r\nOK\r\n"} << L{"OK\r\nOK\r\n"};
    QTest::newRow("one character per poll") << L{"O", "K", "\r", "\n"} << L{"", "", "", "OK\r\n"};
    QTest::newRow("word split over two reads") << L{"DOWN", "LOAD\r\n"} << L{"", "DOWNLOAD\r\n"};
    QTest::newRow("answer and the start of the next")
        << L{"OK\r\nDOW", "NLOAD\r\n"} << L{"OK\r\n", "DOWNLOAD\r\n"};
    QTest::newRow("line feed only") << L{"OK\n"} << L{""};
    QTest::newRow("line feed only, then more") << L{"OK\n", "OK\n"} << L{"", "OK\nOK\n"};
    QTest::newRow("carriage return only") << L{"VER=1\r"} << L{"VER=1\r"};
    QTest::newRow("three characters with CR, then more") << L{"OK\r", "\n"} << L{"", "OK\r\n"};
    QTest::newRow("up to the last line end")
        << L{"ABCD\r\nEF\r\nGH", "IJ\r\n"} << L{"ABCD\r\nEF\r\n", "GHIJ\r\n"};
    QTest::newRow("empty reads while nothing is pending")
        << quiet(2 * kPlainQuietTicks) << quiet(2 * kPlainQuietTicks);

    L reads{"VER=1"};
    L handed{""};
    reads += quiet(kPlainQuietTicks);
    handed += quiet(kPlainQuietTicks - 1);
    handed += QByteArray("VER=1");
    QTest::newRow("no line end, handed on after quiet polls") << reads << handed;

    reads = L{"AB\rCD"};
    handed = L{""};
    reads += quiet(kPlainQuietTicks);
    handed += quiet(kPlainQuietTicks - 1);
    handed += QByteArray("AB\rCD");
    QTest::newRow("short line then more, handed on after quiet polls") << reads << handed;

    reads = L{"VER=1"};
    reads += quiet(kPlainQuietTicks);
    reads += quiet(kPlainQuietTicks);
    handed = L{""};
    handed += quiet(kPlainQuietTicks - 1);
    handed += QByteArray("VER=1");
    handed += quiet(kPlainQuietTicks);
    QTest::newRow("nothing more after a quiet hand-on") << reads << handed;

    reads = L{"VER=1"};
    reads += quiet(kPlainQuietTicks);
    reads += QByteArray("VER=2");
    reads += quiet(kPlainQuietTicks);
    handed = L{""};
    handed += quiet(kPlainQuietTicks - 1);
    handed += QByteArray("VER=1");
    handed += QByteArray();
    handed += quiet(kPlainQuietTicks - 1);
    handed += QByteArray("VER=2");
    QTest::newRow("second quiet hand-on waits as long as the first") << reads << handed;

    reads = L{"VERS"};
    reads += quiet(kPlainQuietTicks - 1);
    reads += QByteArray("ION\r\nABCD");
    reads += quiet(kPlainQuietTicks);
    handed = quiet(kPlainQuietTicks);
    handed += QByteArray("VERSION\r\n");
    handed += quiet(kPlainQuietTicks - 1);
    handed += QByteArray("ABCD");
    QTest::newRow("quiet count restarts after a line is handed on") << reads << handed;

    reads = quiet(2 * kPlainQuietTicks);
    reads += QByteArray("VER=1");
    reads += quiet(kPlainQuietTicks);
    handed = quiet(2 * kPlainQuietTicks + 1);
    handed += quiet(kPlainQuietTicks - 1);
    handed += QByteArray("VER=1");
    QTest::newRow("quiet polls before anything arrived do not count") << reads << handed;

    reads = L{"OK\r\nVER=1"};
    reads += quiet(kPlainQuietTicks);
    handed = L{"OK\r\n"};
    handed += quiet(kPlainQuietTicks - 1);
    handed += QByteArray("VER=1");
    QTest::newRow("rest after a line, handed on after quiet polls") << reads << handed;

    reads = L{"ABC"};
    reads += quiet(2 * kPlainQuietTicks);
    reads += QByteArray("D");
    reads += quiet(kPlainQuietTicks);
    handed = quiet(1 + 2 * kPlainQuietTicks + 1);
    handed += quiet(kPlainQuietTicks - 1);
    handed += QByteArray("ABCD");
    QTest::newRow("short text waits, then grows") << reads << handed;
}

void TestPlainAnswer::polls() {
    QFETCH(QList<QByteArray>, reads);
    QFETCH(QList<QByteArray>, handedOn);

    PlainReceiver rx;
    QList<QByteArray> actual;
    for (const QByteArray &read : reads)
        actual.append(poll(rx, read));
    QCOMPARE(actual, handedOn);
}

void TestPlainAnswer::pendingKeptAfterAnswer_data() {
    QTest::addColumn<QByteArray>("read");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("pending");

    QTest::newRow("OK and DOW") << QByteArray("OK\r\nDOW") << QByteArray("OK\r\n")
                                << QByteArray("DOW");
    QTest::newRow("nothing after") << QByteArray("OK\r\n") << QByteArray("OK\r\n") << QByteArray();
    QTest::newRow("lone CR ends") << QByteArray("DONE\rX") << QByteArray("DONE\r")
                                  << QByteArray("X");
    QTest::newRow("lone LF ends") << QByteArray("DONE\nXY") << QByteArray("DONE\n")
                                  << QByteArray("XY");
}

void TestPlainAnswer::pendingKeptAfterAnswer() {
    QFETCH(QByteArray, read);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, pending);

    PlainReceiver rx;
    QCOMPARE(poll(rx, read), answer);
    QCOMPARE(QByteArray::fromStdString(rx.pending), pending);
}

// Characters arriving restart the wait: only polls in a row that bring nothing count.
void TestPlainAnswer::quietTicksCountOnlyQuietPolls() {
    PlainReceiver rx;
    QCOMPARE(poll(rx, "VER="), QByteArray());
    for (int i = 0; i < kPlainQuietTicks - 1; ++i)
        QCOMPARE(poll(rx, {}), QByteArray());
    QCOMPARE(poll(rx, "1"), QByteArray());
    for (int i = 0; i < kPlainQuietTicks - 1; ++i)
        QCOMPARE(poll(rx, {}), QByteArray());
    QCOMPARE(poll(rx, {}), QByteArray("VER=1"));
    QCOMPARE(QByteArray::fromStdString(rx.pending), QByteArray());
}

void TestPlainAnswer::shortTextNeverHandedOnByQuietPolls_data() {
    QTest::addColumn<QByteArray>("read");

    QTest::newRow("one character") << QByteArray("A");
    QTest::newRow("three characters") << QByteArray("ABC");
    QTest::newRow("three with line end") << QByteArray("OK\n");
    QTest::newRow("CR LF only") << QByteArray("\r\n");
}

void TestPlainAnswer::shortTextNeverHandedOnByQuietPolls() {
    QFETCH(QByteArray, read);

    QVERIFY(read.size() < qsizetype(kPlainMinAnswer));
    PlainReceiver rx;
    QCOMPARE(poll(rx, read), QByteArray());
    for (int i = 0; i < 4 * kPlainQuietTicks; ++i)
        QCOMPARE(poll(rx, {}), QByteArray());
}

void TestPlainAnswer::longRunWithoutLineEnd_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("chunk");

    const int over = int(kPlainPendingLimit) + 1;
    QTest::newRow("one over the limit in one read") << QByteArray() << over << over;
    QTest::newRow("twice the limit in one read") << QByteArray() << 2 * over << 2 * over;
    QTest::newRow("over the limit in small reads") << QByteArray() << over + 200 << 100;
    QTest::newRow("over the limit one by one") << QByteArray() << over << 1;
    QTest::newRow("after a line, in the same read") << QByteArray("OK\r\n") << over + 4 << over + 4;
    QTest::newRow("after a short line, in the same read")
        << QByteArray("K\r\n") << over + 3 << over + 3;
    QTest::newRow("after a line, twice the limit in one read")
        << QByteArray("VER=1\r\n") << 2 * over << 2 * over;
    QTest::newRow("after a line, in small reads") << QByteArray("OK\r\n") << over + 200 << 100;
}

// A device that stops ending its lines and never pauses: nothing is lost, and after every poll
// no more than the limit is left pending.
void TestPlainAnswer::longRunWithoutLineEnd() {
    QFETCH(QByteArray, line);
    QFETCH(int, total);
    QFETCH(int, chunk);

    QByteArray sent = line;
    for (qsizetype i = sent.size(); i < total; ++i)
        sent.append(char('A' + i % 26));

    PlainReceiver rx;
    QByteArray handed;
    for (int at = 0; at < total; at += chunk) {
        handed += poll(rx, sent.mid(at, chunk));
        QVERIFY2(rx.pending.size() <= kPlainPendingLimit,
                 QByteArray::number(qulonglong(rx.pending.size())));
    }
    QVERIFY2(!handed.isEmpty(), "a run longer than the pending limit was never handed on");
    QCOMPARE(handed + QByteArray::fromStdString(rx.pending), sent);
}

void TestPlainAnswer::runUpToLimitWaits() {
    PlainReceiver rx;
    const QByteArray run(qsizetype(kPlainPendingLimit), 'Z');
    QCOMPARE(poll(rx, run), QByteArray());
    QCOMPARE(rx.pending.size(), kPlainPendingLimit);
    QCOMPARE(poll(rx, "\r\n"), run + "\r\n");
}

QTEST_APPLESS_MAIN(TestPlainAnswer)
#include "tst_plainanswer.moc"
