// Plain (unframed) answers: collecting what each poll reads until an answer can be handed on.

#include "link/PlainAnswer.h"

#include <QByteArray>
#include <QList>
#include <QTest>

#include <string>

using namespace quenta;

namespace {
using L = QList<QByteArray>;
constexpr int kQuiet = kPlainQuietTicks;

L quiet(int count) {
    return L(count, QByteArray());
}

// An answer handed on by the poll with the given index.
QByteArray at(int poll, const QByteArray &answer) {
    return QByteArray::number(poll) + ':' + answer;
}
} // namespace

class TestPlainAnswer : public QObject {
    Q_OBJECT

private slots:
    void polls_data();
    void polls();
    void pendingBounded_data();
    void pendingBounded();
    void runUpToLimitWaits();
};

void TestPlainAnswer::polls_data() {
    QTest::addColumn<L>("reads");
    QTest::addColumn<L>("handedOn");

    QTest::newRow("two answers in one read") << L{"OK\r\nOK\r\n"} << L{at(0, "OK\r\nOK\r\n")};
    QTest::newRow("one character per poll") << L{"O", "K", "\r", "\n"} << L{at(3, "OK\r\n")};
    QTest::newRow("split answer, rest kept")
        << L{"OK\r\nDOW", "NLOAD\r\n"} << L{at(0, "OK\r\n"), at(1, "DOWNLOAD\r\n")};
    QTest::newRow("short line kept") << L{"OK\n", "OK\n"} << L{at(1, "OK\nOK\n")};
    QTest::newRow("up to the last line end, lone CR")
        << L{"ABCD\r\nEF\rGH", "IJ\n"} << L{at(0, "ABCD\r\nEF\r"), at(1, "GHIJ\n")};
    QTest::newRow("no line end, after quiet polls")
        << L{"VER=1"} + quiet(2 * kQuiet) << L{at(kQuiet, "VER=1")};
    QTest::newRow("quiet polls before anything arrived do not count")
        << quiet(kQuiet) + L{"VER=1"} + quiet(kQuiet) << L{at(2 * kQuiet, "VER=1")};
    QTest::newRow("characters restart the wait")
        << L{"VER="} + quiet(kQuiet - 1) + L{"1"} + quiet(kQuiet) << L{at(2 * kQuiet, "VER=1")};
    QTest::newRow("wait restarts after a line")
        << L{"VERS"} + quiet(kQuiet - 1) + L{"ION\r\nABCD"} + quiet(kQuiet)
        << L{at(kQuiet, "VERSION\r\n"), at(2 * kQuiet, "ABCD")};
    QTest::newRow("short text waits, then grows")
        << L{"ABC"} + quiet(2 * kQuiet) + L{"D"} + quiet(kQuiet) << L{at(3 * kQuiet + 1, "ABCD")};
}

void TestPlainAnswer::polls() {
    QFETCH(L, reads);
    QFETCH(L, handedOn);

    PlainReceiver rx;
    L actual;
    for (int i = 0; i < reads.size(); ++i)
        if (const auto answer = takePlainAnswer(rx, reads[i].toStdString()))
            actual.append(at(i, QByteArray::fromStdString(*answer)));
    QCOMPARE(actual, handedOn);
}

void TestPlainAnswer::pendingBounded_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("chunk");

    const int over = int(kPlainPendingLimit) + 1;
    QTest::newRow("one over the limit in one read") << QByteArray() << over << over;
    QTest::newRow("over the limit one by one") << QByteArray() << over << 1;
    QTest::newRow("after a line, in small reads") << QByteArray("OK\r\n") << over + 200 << 100;
}

// A device that stops ending its lines and never pauses: nothing is lost, and after every poll
// no more than the limit is left pending.
void TestPlainAnswer::pendingBounded() {
    QFETCH(QByteArray, line);
    QFETCH(int, total);
    QFETCH(int, chunk);

    QByteArray sent = line;
    for (qsizetype i = sent.size(); i < total; ++i)
        sent.append(char('A' + i % 26));
    PlainReceiver rx;
    QByteArray handed;
    for (int at = 0; at < total; at += chunk) {
        handed += QByteArray::fromStdString(
            takePlainAnswer(rx, sent.mid(at, chunk).toStdString()).value_or(""));
        QVERIFY(rx.pending.size() <= kPlainPendingLimit);
    }
    QVERIFY(!handed.isEmpty());
    QCOMPARE(handed + QByteArray::fromStdString(rx.pending), sent);
}

void TestPlainAnswer::runUpToLimitWaits() {
    PlainReceiver rx;
    const std::string run(kPlainPendingLimit, 'Z');
    QVERIFY(!takePlainAnswer(rx, run));
    QCOMPARE(takePlainAnswer(rx, "\r\n").value_or(""), run + "\r\n");
}

QTEST_APPLESS_MAIN(TestPlainAnswer)
#include "tst_plainanswer.moc"
