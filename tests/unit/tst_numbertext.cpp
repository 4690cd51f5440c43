// Reading numbers out of address boxes and settings: readNumber, roundHalfEven, deviceAddress,
// toInteger16.

#include "protocol/NumberText.h"

#include <QByteArray>
#include <QTest>

#include <clocale>
#include <limits>
#include <string>

using namespace quenta;

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();

void numberRow(const char *text, double value) {
    QTest::addRow("[%s]", text) << QByteArray(text) << value;
}

void resultRow(const char *text, const char *address, const char *integer) {
    QTest::addRow("[%s]", text) << QByteArray(text) << QByteArray(address) << QByteArray(integer);
}

template <typename T> QByteArray shown(const std::optional<T> &result) {
    return result ? QByteArray::number(int(*result)) : QByteArray("none");
}
} // namespace

class TestNumberText : public QObject {
    Q_OBJECT

private slots:
    void readNumber_data();
    void readNumber();
    void roundHalfEven_data();
    void roundHalfEven();
    void addressAndInteger_data();
    void addressAndInteger();
    void commaLocale();
};

void TestNumberText::readNumber_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<double>("expected");

    numberRow("+7", 7);
    numberRow("-12.5", -12.5);
    numberRow(".5", 0.5);
    numberRow("1.5e2", 150);
    numberRow("1D2", 100);
    numberRow("25E-1", 2.5);
    // blanks anywhere
    numberRow(" \t1 2", 12);
    numberRow("- 5", -5);
    numberRow("\n3\t4", 34);
    numberRow("1 e 2", 100);
    // stop at the first character that does not fit
    numberRow("12abc", 12);
    numberRow("7E-", 7);
    numberRow("1.2.3", 1.2);
    numberRow("1,5", 1);
    numberRow("1\r2", 1);
    // no number at all
    numberRow("", 0);
    numberRow(".", 0);
    numberRow("--5", 0);
    // &H numbers: up to eight digits, 32-bit two's complement
    numberRow("&haB", 171);
    numberRow("& H1 0", 16);
    numberRow("&H1G", 1);
    numberRow("&H7FFFFFFF", 2147483647.0);
    numberRow("&H80000000", -2147483648.0);
    numberRow("&H100000000", kInf);
    // beyond the range of a double
    numberRow("1e999", kInf);
    numberRow("-1e999", -kInf);
}

void TestNumberText::readNumber() {
    QFETCH(QByteArray, text);
    QFETCH(double, expected);

    QCOMPARE(quenta::readNumber(text.toStdString()), expected);
}

void TestNumberText::roundHalfEven_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("expected");

    for (const auto &[value, expected] : {std::pair{0.5, 0.0},
                                          {1.5, 2.0},
                                          {2.5, 2.0},
                                          {-0.5, 0.0},
                                          {-1.5, -2.0},
                                          {-2.5, -2.0},
                                          {2.4999, 2.0},
                                          {-2.5001, -3.0},
                                          {4503599627370495.5, 4503599627370496.0},
                                          {kInf, kInf}})
        QTest::addRow("%.17g", value) << value << expected;
}

void TestNumberText::roundHalfEven() {
    QFETCH(double, value);
    QFETCH(double, expected);

    QCOMPARE(quenta::roundHalfEven(value), expected);
}

// deviceAddress reads like readNumber and wants 0..255; toInteger16 wants the whole text to be
// one number (blanks only around it) in -32768..32767. Both round halves to even.
void TestNumberText::addressAndInteger_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("address");
    QTest::addColumn<QByteArray>("integer");

    resultRow("", "0", "none");
    resultRow(" \t12 \t", "12", "12");
    resultRow(" 2 5 5 ", "255", "none");
    resultRow("- 5", "none", "none");
    resultRow("12abc", "12", "none");
    resultRow("1,000", "1", "none");
    resultRow("1e", "1", "none");
    resultRow("3.", "3", "3");
    resultRow(".5", "0", "0");
    resultRow("2.5", "2", "2");
    resultRow("3.5", "4", "4");
    resultRow("255.5", "none", "256");
    resultRow("-0.5", "0", "0");
    resultRow("-0.6", "none", "-1");
    resultRow("&HFF", "255", "255");
    resultRow("&HFFFFFFFF", "none", "-1");
    resultRow("&H100000000", "none", "none");
    resultRow("32767", "none", "32767");
    resultRow("32767.5", "none", "none");
    resultRow("-32768.5", "none", "-32768");
    resultRow("-32769", "none", "none");
    resultRow("1e999", "none", "none");
}

void TestNumberText::addressAndInteger() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, address);
    QFETCH(QByteArray, integer);

    QCOMPARE(shown(deviceAddress(text.toStdString())), address);
    QCOMPARE(shown(toInteger16(text.toStdString())), integer);
}

// The window runs under the user's locale; "2.5" must read the same where decimals are written
// with a comma.
void TestNumberText::commaLocale() {
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") || *std::localeconv()->decimal_point != ',') {
        std::setlocale(LC_NUMERIC, saved.c_str());
        QSKIP("no locale with a decimal comma is installed");
    }
    const QByteArray read = QByteArray::number(quenta::readNumber("-12.5")) + ' ' +
                            QByteArray::number(quenta::readNumber("1,5")) + ' ' +
                            shown(deviceAddress("3.5")) + ' ' + shown(toInteger16("2.5")) + ' ' +
                            shown(toInteger16("2,5"));
    std::setlocale(LC_NUMERIC, saved.c_str());
    QCOMPARE(read, QByteArray("-12.5 1 4 2 none"));
}

QTEST_APPLESS_MAIN(TestNumberText)
#include "tst_numbertext.moc"
