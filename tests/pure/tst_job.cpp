// The job core without any window: what each answer does to a job, the lines it sends, and the
// set-address command.
#include "pure/CommandLines.h"
#include "pure/FirmwareJob.h"

#include <QTest>

using namespace quenta;

namespace {
const std::vector<std::string> kRecords = {
    ":020000040000FA", ":10000000FFFFFFFF0CEF00F0FFFFFFFFFFFFFFFF12", ":00000001FF"};

// The effects as words, in the order a front end carries them out.
QByteArray words(const AnswerEffects &e) {
    QByteArrayList list;
    const auto add = [&list](bool present, const QByteArray &word) {
        if (present) {
            list << word;
        }
    };
    add(e.stopProbing, "stop");
    add(e.status.has_value(), "status=" + QByteArray(e.status.value_or("").c_str()));
    add(e.barText.has_value(), "bar=" + QByteArray(e.barText.value_or("").c_str()));
    add(e.barColor.has_value(), "color=" + QByteArray::number(e.barColor.value_or(0), 16));
    add(e.barValue.has_value(), "value=" + QByteArray::number(e.barValue.value_or(0)));
    add(e.sendNextLine, "send");
    return list.join(' ');
}

QByteArray flags(const FirmwareJob &job) {
    return QByteArray("V%1 F%2 I%3")
        .replace("%1", QByteArray::number(job.VerifyMode))
        .replace("%2", QByteArray::number(job.FileLoaded))
        .replace("%3", QByteArray::number(job.LineIndex));
}
} // namespace

class TestJob : public QObject {
    Q_OBJECT
private slots:
    void answerRule_data() {
        QTest::addColumn<QByteArray>(
            "before"); // "V F R": verify mode, file loaded, transfer requested
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QByteArray>("effects");
        QTest::addColumn<QByteArray>("after");
        const char *rows[][5] = {
            // name, before, answer, effects, after
            {"OK downloading", "0 1 1", "OK\r\n", "send", "V0 F1 I2"},
            {"OK verifying", "1 1 1", "OK\r\n", "send", "V1 F1 I2"},
            {"OK outside a job", "0 0 1", "OK\r\n", "", "V0 F0 I2"},
            {"DOWNLOAD ends the download pass", "0 1 1", "DOWNLOAD\r\n", "bar=VERIFY send",
             "V1 F1 I0"},
            {"DOWNLOAD ends the verify pass", "1 1 1", "DOWNLOAD\r\n", "bar=END color=ff00",
             "V0 F0 I2"},
            {"DOWNLOAD ends a verify whose file flag ? cleared", "1 0 1", "DOWNLOAD\r\n",
             "bar=END color=ff00", "V0 F0 I2"},
            {"DOWNLOAD outside a job", "0 0 1", "DOWNLOAD\r\n", "", "V0 F0 I2"},
            {"ERROR ends the job", "1 1 1", "ERROR\r\n", "bar=ERROR color=ff", "V0 F0 I2"},
            {"FORMAT", "0 1 1", "FORMAT\r\n", "bar= value=0", "V0 F1 I2"},
            {"VER= with a pending job", "0 1 1", "VER=4.1\r\n", "stop status=READY send",
             "V0 F1 I2"},
            {"VER= without a request", "0 1 0", "VER=4.1\r\n", "stop status=READY", "V0 F1 I2"},
            {"lower case", "0 1 1", "ok error\r\n", "", "V0 F1 I2"},
            {"VER= before OK", "0 1 0", "VER=1 OK", "stop status=READY", "V0 F1 I2"},
            {"ERROR before DOWNLOAD", "0 1 1", "DOWNLOAD ERROR", "bar=ERROR color=ff", "V0 F0 I2"},
            {"DOWNLOAD before OK", "0 1 1", "OK DOWNLOAD", "bar=VERIFY send", "V1 F1 I0"},
            {"FORMAT before OK", "0 1 1", "OK FORMAT", "bar= value=0", "V0 F1 I2"}};
        for (const auto &row : rows) {
            QTest::newRow(row[0]) << QByteArray(row[1]) << QByteArray(row[2]) << QByteArray(row[3])
                                  << QByteArray(row[4]);
        }
    }

    void answerRule() {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, effects);
        QFETCH(QByteArray, after);
        FirmwareJob job;
        job.load(kRecords, before[0] == '1');
        job.LineIndex = 2;
        job.FileLoaded = std::int16_t(before[2] - '0');
        job.TransferRequested = std::int16_t(before[4] - '0');
        QCOMPARE(words(job.answer(answer.toStdString())), effects);
        QCOMPARE(flags(job), after);
    }

    void noTableNoLine() { QVERIFY(!FirmwareJob().nextLine()); }

    void setAddress_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("line"); // empty: nothing sent
        QTest::addColumn<bool>("outOfRange");
        // clang-format off
        const std::tuple<const char *, const char *, bool> rows[] = {
            {"10", "BOOT$0A\r\n", false}, {"255", "BOOT$FF\r\n", false}, {"&H1F", "BOOT$1F\r\n", false},
            {"2.5", "BOOT$02\r\n", false}, {"0", "", false}, {"", "", false}, {"abc", "", false},
            {"256", "", true}, {"257", "", true}, {"-1", "", true}, {"1e12", "", true}};
        // clang-format on
        for (const auto &[text, line, out] : rows) {
            QTest::addRow("[%s]", text) << QByteArray(text) << QByteArray(line) << out;
        }
    }

    void setAddress() {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, line);
        QFETCH(bool, outOfRange);
        const NewAddress address = setAddressLine(text.toStdString());
        QCOMPARE(QByteArray(address.line.value_or("").c_str()), line);
        QCOMPARE(address.outOfRange, outOfRange);
    }
};

QTEST_APPLESS_MAIN(TestJob)
#include "tst_job.moc"
