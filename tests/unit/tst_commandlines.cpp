// The command lines sent to the bootloader.

#include "transfer/CommandLines.h"

#include <QByteArray>
#include <QTest>

#include <string>

using namespace quenta;

class TestCommandLines : public QObject {
    Q_OBJECT

private slots:
    void downloadLine_data();
    void downloadLine();
    void verifyLine_data();
    void verifyLine();
    void addressDigits_data();
    void addressDigits();
    void setAddressLine_data();
    void setAddressLine();
};

void TestCommandLines::downloadLine_data() {
    QTest::addColumn<QByteArray>("entry");
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("end record") << QByteArray(":00000001FF") << QByteArray("BOOT:00000001FF\r\n");
    QTest::newRow("data record") << QByteArray(":10010000214601360121470136007EFE09D2190140")
                                 << QByteArray(
                                        "BOOT:10010000214601360121470136007EFE09D2190140\r\n");
    QTest::newRow("entry kept as it stands")
        << QByteArray("a:b#c ") << QByteArray("BOOTa:b#c \r\n");
    QTest::newRow("empty entry") << QByteArray() << QByteArray("BOOT\r\n");
}

void TestCommandLines::downloadLine() {
    QFETCH(QByteArray, entry);
    QFETCH(QByteArray, line);

    QCOMPARE(QByteArray::fromStdString(quenta::downloadLine(entry.toStdString())), line);
}

void TestCommandLines::verifyLine_data() {
    QTest::addColumn<QByteArray>("entry");
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("end record") << QByteArray(":00000001FF") << QByteArray("BOOT#00000001FF\r\n");
    QTest::newRow("every colon") << QByteArray("a:b:c") << QByteArray("BOOTa#b#c\r\n");
    QTest::newRow("colons only") << QByteArray(":::") << QByteArray("BOOT###\r\n");
    QTest::newRow("no colon") << QByteArray("0123") << QByteArray("BOOT0123\r\n");
    QTest::newRow("empty entry") << QByteArray() << QByteArray("BOOT\r\n");
}

void TestCommandLines::verifyLine() {
    QFETCH(QByteArray, entry);
    QFETCH(QByteArray, line);

    QCOMPARE(QByteArray::fromStdString(quenta::verifyLine(entry.toStdString())), line);
}

namespace {
void addAddressRows() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("fits");
    QTest::addColumn<QByteArray>("digits");

    QTest::newRow("10") << QByteArray("10") << true << QByteArray("0A");
    QTest::newRow("171 upper case") << QByteArray("171") << true << QByteArray("AB");
    QTest::newRow("255") << QByteArray("255") << true << QByteArray("FF");
    QTest::newRow("1") << QByteArray("1") << true << QByteArray("01");
    QTest::newRow("-1") << QByteArray("-1") << true << QByteArray("FF");
    QTest::newRow("-255") << QByteArray("-255") << true << QByteArray("01");
    QTest::newRow("&H1F") << QByteArray("&H1F") << true << QByteArray("1F");
    QTest::newRow("&hc0 lower case") << QByteArray("&hc0") << true << QByteArray("C0");
    QTest::newRow("&HFFFFFFFF") << QByteArray("&HFFFFFFFF") << true << QByteArray("FF");
    QTest::newRow("257") << QByteArray("257") << true << QByteArray("01");
    QTest::newRow("2.5 rounds to even") << QByteArray("2.5") << true << QByteArray("02");
    QTest::newRow("3.5 rounds to even") << QByteArray("3.5") << true << QByteArray("04");
    QTest::newRow("blanks inside") << QByteArray(" 1 0 ") << true << QByteArray("0A");
    QTest::newRow("text after the number") << QByteArray("12abc") << true << QByteArray("0C");
    QTest::newRow("2147483647") << QByteArray("2147483647") << true << QByteArray("FF");
    QTest::newRow("-2147483648") << QByteArray("-2147483648") << true << QByteArray("00");
    QTest::newRow("-2147483647") << QByteArray("-2147483647") << true << QByteArray("01");
    QTest::newRow("256") << QByteArray("256") << true << QByteArray("00");
    QTest::newRow("512") << QByteArray("512") << true << QByteArray("00");
    QTest::newRow("-256") << QByteArray("-256") << true << QByteArray("00");
    QTest::newRow("0") << QByteArray("0") << true << QByteArray("00");
    QTest::newRow("empty") << QByteArray("") << true << QByteArray("00");
    QTest::newRow("abc") << QByteArray("abc") << true << QByteArray("00");
    QTest::newRow("0.5 rounds to 0") << QByteArray("0.5") << true << QByteArray("00");
    QTest::newRow("3000000000") << QByteArray("3000000000") << false << QByteArray();
    QTest::newRow("2147483648") << QByteArray("2147483648") << false << QByteArray();
    QTest::newRow("2147483647.5 rounds out") << QByteArray("2147483647.5") << false << QByteArray();
    QTest::newRow("-2147483649") << QByteArray("-2147483649") << false << QByteArray();
    QTest::newRow("1e999") << QByteArray("1e999") << false << QByteArray();
    QTest::newRow("&H nine digits") << QByteArray("&H100000000") << false << QByteArray();
}
} // namespace

void TestCommandLines::addressDigits_data() {
    addAddressRows();
}

void TestCommandLines::addressDigits() {
    QFETCH(QByteArray, text);
    QFETCH(bool, fits);
    QFETCH(QByteArray, digits);

    const std::optional<std::string> result = quenta::addressDigits(text.toStdString());
    QCOMPARE(result.has_value(), fits);
    if (fits)
        QCOMPARE(QByteArray::fromStdString(*result), digits);
}

void TestCommandLines::setAddressLine_data() {
    addAddressRows();
}

// The line carries the digits, except when they are "00" or there are none.
void TestCommandLines::setAddressLine() {
    QFETCH(QByteArray, text);
    QFETCH(bool, fits);
    QFETCH(QByteArray, digits);

    const std::optional<std::string> line = quenta::setAddressLine(text.toStdString());
    const bool expectLine = fits && digits != "00";
    QCOMPARE(line.has_value(), expectLine);
    if (expectLine)
        QCOMPARE(QByteArray::fromStdString(*line), "BOOT$" + digits + "\r\n");
}

QTEST_APPLESS_MAIN(TestCommandLines)
#include "tst_commandlines.moc"
