// The command lines sent to the bootloader.

#include "transfer/CommandLines.h"

#include <QByteArray>
#include <QTest>

#include <string>

using namespace quenta;

namespace {
QByteArray orNone(const std::optional<std::string> &text) {
    return text ? QByteArray::fromStdString(*text) : QByteArray("<none>");
}
} // namespace

class TestCommandLines : public QObject {
    Q_OBJECT

private slots:
    void firmwareLines_data();
    void firmwareLines();
    void setAddress_data();
    void setAddress();
};

void TestCommandLines::firmwareLines_data() {
    QTest::addColumn<QByteArray>("entry");
    QTest::addColumn<QByteArray>("download");
    QTest::addColumn<QByteArray>("verify");

    QTest::newRow("end record") << QByteArray(":00000001FF") << QByteArray("BOOT:00000001FF\r\n")
                                << QByteArray("BOOT#00000001FF\r\n");
    QTest::newRow("every colon") << QByteArray("a:b: ::") << QByteArray("BOOTa:b: ::\r\n")
                                 << QByteArray("BOOTa#b# ##\r\n");
    QTest::newRow("empty entry") << QByteArray() << QByteArray("BOOT\r\n")
                                 << QByteArray("BOOT\r\n");
}

void TestCommandLines::firmwareLines() {
    QFETCH(QByteArray, entry);
    QFETCH(QByteArray, download);
    QFETCH(QByteArray, verify);

    QCOMPARE(QByteArray::fromStdString(downloadLine(entry.toStdString())), download);
    QCOMPARE(QByteArray::fromStdString(verifyLine(entry.toStdString())), verify);
}

void TestCommandLines::setAddress_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("digits");
    QTest::addColumn<QByteArray>("line");

    const auto row = [](const char *text, const char *digits, const char *line) {
        QTest::addRow("[%s]", text) << QByteArray(text) << QByteArray(digits) << QByteArray(line);
    };
    row("171", "AB", "BOOT$AB\r\n");
    row(" 1 2abc", "0C", "BOOT$0C\r\n");
    row("-1", "FF", "BOOT$FF\r\n");
    row("257", "01", "BOOT$01\r\n");
    row("2.5", "02", "BOOT$02\r\n");
    row("3.5", "04", "BOOT$04\r\n");
    row("-2147483648", "00", "<none>");
    row("", "00", "<none>");
    row("2147483648", "<none>", "<none>");
    row("2147483647.5", "<none>", "<none>");
    row("&H100000000", "<none>", "<none>");
}

void TestCommandLines::setAddress() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, digits);
    QFETCH(QByteArray, line);

    QCOMPARE(orNone(addressDigits(text.toStdString())), digits);
    QCOMPARE(orNone(setAddressLine(text.toStdString())), line);
}

QTEST_APPLESS_MAIN(TestCommandLines)
#include "tst_commandlines.moc"
