// Reading numbers out of address boxes and settings: readNumber, roundHalfEven, deviceAddress,
// toInteger16.

#include "protocol/NumberText.h"

#include <QByteArray>
#include <QTest>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

using namespace quenta;

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();

// The window runs under the user's locale (QApplication takes it from the environment), and the
// address boxes must read "2.5" the same whether that locale writes decimals with a point or a
// comma. This switches the C numeric locale to one with a decimal comma for as long as it lives.
class CommaLocale {
public:
    CommaLocale() {
        const char *current = std::setlocale(LC_NUMERIC, nullptr);
        saved_ = current ? current : "C";
        for (const char *name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8",
                                 "fr_FR", "nl_NL.UTF-8", "it_IT.UTF-8", "es_ES.UTF-8"}) {
            if (std::setlocale(LC_NUMERIC, name) && *std::localeconv()->decimal_point == ',') {
                active_ = true;
                return;
            }
        }
        std::setlocale(LC_NUMERIC, saved_.c_str());
    }
    ~CommaLocale() { std::setlocale(LC_NUMERIC, saved_.c_str()); }
    CommaLocale(const CommaLocale &) = delete;
    CommaLocale &operator=(const CommaLocale &) = delete;

    bool active() const { return active_; }

private:
    std::string saved_;
    bool active_ = false;
};

} // namespace

class TestNumberText : public QObject {
    Q_OBJECT

private slots:
    void readNumber_data();
    void readNumber();
    void readNumberUnderCommaLocale_data();
    void readNumberUnderCommaLocale();
    void scanNumberEnd_data();
    void scanNumberEnd();
    void roundHalfEven_data();
    void roundHalfEven();
    void deviceAddress_data();
    void deviceAddress();
    void toInteger16_data();
    void toInteger16();
    void deviceAddressUnderCommaLocale_data();
    void deviceAddressUnderCommaLocale();
    void toInteger16UnderCommaLocale_data();
    void toInteger16UnderCommaLocale();
};

void TestNumberText::readNumber_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<double>("expected");

    // plain numbers
    QTest::newRow("integer") << QByteArray("12") << 12.0;
    QTest::newRow("plus sign") << QByteArray("+7") << 7.0;
    QTest::newRow("minus sign") << QByteArray("-12.5") << -12.5;
    QTest::newRow("leading point") << QByteArray(".5") << 0.5;
    QTest::newRow("trailing point") << QByteArray("5.") << 5.0;
    QTest::newRow("exponent E") << QByteArray("1.5E2") << 150.0;
    QTest::newRow("exponent e") << QByteArray("1.5e2") << 150.0;
    QTest::newRow("exponent D") << QByteArray("1D2") << 100.0;
    QTest::newRow("exponent d") << QByteArray("1d2") << 100.0;
    QTest::newRow("negative exponent") << QByteArray("25e-1") << 2.5;
    QTest::newRow("exponent with plus") << QByteArray("3e+2") << 300.0;

    // blanks anywhere
    QTest::newRow("leading blanks") << QByteArray("  \t42") << 42.0;
    QTest::newRow("blank between digits") << QByteArray(" 1 2") << 12.0;
    QTest::newRow("blank after sign") << QByteArray("- 5") << -5.0;
    QTest::newRow("tab and line feed") << QByteArray("\t\n3\t4") << 34.0;
    QTest::newRow("blanks around exponent") << QByteArray("1 e 2") << 100.0;
    QTest::newRow("blank inside fraction") << QByteArray("1. 5") << 1.5;

    // reading stops at the first character that does not fit
    QTest::newRow("letters after digits") << QByteArray("12abc") << 12.0;
    QTest::newRow("bare exponent letter") << QByteArray("1e") << 1.0;
    QTest::newRow("exponent sign only") << QByteArray("1e+") << 1.0;
    QTest::newRow("exponent minus only") << QByteArray("7E-") << 7.0;
    QTest::newRow("second point") << QByteArray("1.2.3") << 1.2;
    QTest::newRow("point after exponent") << QByteArray("1e2.5") << 100.0;
    QTest::newRow("comma") << QByteArray("1,5") << 1.0;
    QTest::newRow("carriage return stops") << QByteArray("1\r2") << 1.0;

    // no number at all
    QTest::newRow("empty") << QByteArray() << 0.0;
    QTest::newRow("blanks only") << QByteArray("  \t") << 0.0;
    QTest::newRow("point only") << QByteArray(".") << 0.0;
    QTest::newRow("letters") << QByteArray("abc") << 0.0;
    QTest::newRow("sign only") << QByteArray("-") << 0.0;
    QTest::newRow("two signs") << QByteArray("--5") << 0.0;
    QTest::newRow("C style hex") << QByteArray("0x10") << 0.0;
    QTest::newRow("exponent without mantissa") << QByteArray("e5") << 0.0;
    QTest::newRow("point and exponent only") << QByteArray(".e5") << 0.0;
    QTest::newRow("sign then letter") << QByteArray("+x1") << 0.0;

    // &H numbers: 32-bit two's complement
    QTest::newRow("&HFF") << QByteArray("&HFF") << 255.0;
    QTest::newRow("&hff lower case") << QByteArray("&hff") << 255.0;
    QTest::newRow("&HaB mixed case") << QByteArray("&HaB") << 171.0;
    QTest::newRow("&H stops at G") << QByteArray("&H1G") << 1.0;
    QTest::newRow("&H without digits") << QByteArray("&H") << 0.0;
    QTest::newRow("&H then non-digit") << QByteArray("&HZ") << 0.0;
    QTest::newRow("&H7FFFFFFF") << QByteArray("&H7FFFFFFF") << 2147483647.0;
    QTest::newRow("&H80000000") << QByteArray("&H80000000") << -2147483648.0;
    QTest::newRow("&HFFFFFFFF") << QByteArray("&HFFFFFFFF") << -1.0;
    QTest::newRow("&H0FFFFFFF") << QByteArray("&H0FFFFFFF") << 268435455.0;
    QTest::newRow("&H nine digits") << QByteArray("&H100000000") << kInf;
    QTest::newRow("leading blanks before &H") << QByteArray("  &H10") << 16.0;
    QTest::newRow("blank inside &H digits") << QByteArray("&H1 0") << 16.0;
    QTest::newRow("blank between & and H") << QByteArray("& H10") << 16.0;

    // beyond the range of a double
    QTest::newRow("huge exponent") << QByteArray("1e999") << kInf;
    QTest::newRow("huge negative") << QByteArray("-1e999") << -kInf;
    QTest::newRow("tiny") << QByteArray("1e-999") << 0.0;
    QTest::newRow("leading zeros") << QByteArray("00012") << 12.0;
    QTest::newRow("many digits") << QByteArray("123456789012345678901234567890")
                                 << 1.2345678901234568e29;
}

void TestNumberText::readNumber() {
    QFETCH(QByteArray, text);
    QFETCH(double, expected);

    QCOMPARE(quenta::readNumber(text.toStdString()), expected);
}

void TestNumberText::readNumberUnderCommaLocale_data() {
    readNumber_data();
}

void TestNumberText::readNumberUnderCommaLocale() {
    QFETCH(QByteArray, text);
    QFETCH(double, expected);

    const CommaLocale locale;
    if (!locale.active())
        QSKIP("no locale with a decimal comma is installed");
    QCOMPARE(quenta::readNumber(text.toStdString()), expected);
}

void TestNumberText::scanNumberEnd_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("skipBlanks");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("end");
    QTest::addColumn<bool>("digits");

    QTest::newRow("digits then letters") << QByteArray("12abc") << true << 12.0 << 2 << true;
    QTest::newRow("whole text") << QByteArray("-3.25") << true << -3.25 << 5 << true;
    QTest::newRow("hex then letter") << QByteArray("&HFFx") << true << 255.0 << 4 << true;
    QTest::newRow("blanks skipped") << QByteArray(" 1 2x") << true << 12.0 << 4 << true;
    QTest::newRow("blank ends without skipping") << QByteArray("1 2") << false << 1.0 << 1 << true;
    QTest::newRow("letters") << QByteArray("abc") << true << 0.0 << 0 << false;
    QTest::newRow("point only") << QByteArray(".") << true << 0.0 << 0 << false;
    QTest::newRow("empty") << QByteArray() << true << 0.0 << 0 << false;
}

void TestNumberText::scanNumberEnd() {
    QFETCH(QByteArray, text);
    QFETCH(bool, skipBlanks);
    QFETCH(double, value);
    QFETCH(int, end);
    QFETCH(bool, digits);

    const NumberScan scan = scanNumber(text.toStdString(), skipBlanks);
    QCOMPARE(scan.value, value);
    QCOMPARE(int(scan.end), end);
    QCOMPARE(scan.digits, digits);
}

void TestNumberText::roundHalfEven_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("expected");

    QTest::newRow("0.5") << 0.5 << 0.0;
    QTest::newRow("1.5") << 1.5 << 2.0;
    QTest::newRow("2.5") << 2.5 << 2.0;
    QTest::newRow("3.5") << 3.5 << 4.0;
    QTest::newRow("-0.5") << -0.5 << 0.0;
    QTest::newRow("-1.5") << -1.5 << -2.0;
    QTest::newRow("-2.5") << -2.5 << -2.0;
    QTest::newRow("-3.5") << -3.5 << -4.0;
    QTest::newRow("254.5") << 254.5 << 254.0;
    QTest::newRow("255.5") << 255.5 << 256.0;
    QTest::newRow("below half") << 2.4999 << 2.0;
    QTest::newRow("above half") << 2.5001 << 3.0;
    QTest::newRow("negative below half") << -2.4999 << -2.0;
    QTest::newRow("negative above half") << -2.5001 << -3.0;
    QTest::newRow("whole") << 7.0 << 7.0;
    QTest::newRow("zero") << 0.0 << 0.0;
    QTest::newRow("-0.4") << -0.4 << 0.0;
    // Largest doubles that still have a half: 2^52 - 0.5 is odd + half, goes up.
    QTest::newRow("2^52 - 0.5") << 4503599627370495.5 << 4503599627370496.0;
    QTest::newRow("2^52 - 1.5") << 4503599627370494.5 << 4503599627370494.0;
    QTest::newRow("whole beyond 2^53") << 18014398509481984.0 << 18014398509481984.0;
    QTest::newRow("infinity") << kInf << kInf;
    QTest::newRow("minus infinity") << -kInf << -kInf;
}

void TestNumberText::roundHalfEven() {
    QFETCH(double, value);
    QFETCH(double, expected);

    QCOMPARE(quenta::roundHalfEven(value), expected);
}

void TestNumberText::deviceAddress_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("address");

    QTest::newRow("empty") << QByteArray("") << true << 0;
    QTest::newRow("1") << QByteArray("1") << true << 1;
    QTest::newRow("255") << QByteArray("255") << true << 255;
    QTest::newRow("2.5") << QByteArray("2.5") << true << 2;
    QTest::newRow("3.5") << QByteArray("3.5") << true << 4;
    QTest::newRow("254.5") << QByteArray("254.5") << true << 254;
    QTest::newRow("12abc") << QByteArray("12abc") << true << 12;
    QTest::newRow("letters") << QByteArray("abc") << true << 0;
    QTest::newRow("-0.4") << QByteArray("-0.4") << true << 0;
    QTest::newRow("-0.5") << QByteArray("-0.5") << true << 0;
    QTest::newRow("0.5") << QByteArray("0.5") << true << 0;
    QTest::newRow("&HFF") << QByteArray("&HFF") << true << 255;
    QTest::newRow("&h7f") << QByteArray("&h7f") << true << 127;
    QTest::newRow("1e2") << QByteArray("1e2") << true << 100;
    QTest::newRow("1e-1") << QByteArray("1e-1") << true << 0;
    QTest::newRow("blanks inside") << QByteArray(" 2 5 5 ") << true << 255;
    QTest::newRow("300") << QByteArray("300") << false << 0;
    QTest::newRow("256") << QByteArray("256") << false << 0;
    QTest::newRow("-1") << QByteArray("-1") << false << 0;
    QTest::newRow("-0.6") << QByteArray("-0.6") << false << 0;
    QTest::newRow("255.5") << QByteArray("255.5") << false << 0;
    QTest::newRow("&H100") << QByteArray("&H100") << false << 0;
    QTest::newRow("&HFFFFFFFF") << QByteArray("&HFFFFFFFF") << false << 0;
    QTest::newRow("1e999") << QByteArray("1e999") << false << 0;
    QTest::newRow("-1e999") << QByteArray("-1e999") << false << 0;
    QTest::newRow("&H nine digits") << QByteArray("&H100000000") << false << 0;
}

void TestNumberText::deviceAddress() {
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    QFETCH(int, address);

    const auto result = quenta::deviceAddress(text.toStdString());
    QCOMPARE(result.has_value(), valid);
    if (valid)
        QCOMPARE(int(*result), address);
}

void TestNumberText::toInteger16_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("number");

    QTest::newRow("3") << QByteArray("3") << true << 3;
    QTest::newRow("spaces around") << QByteArray(" 12 ") << true << 12;
    QTest::newRow("tabs around") << QByteArray("\t7\t") << true << 7;
    QTest::newRow("plus") << QByteArray("+5") << true << 5;
    QTest::newRow("3.5") << QByteArray("3.5") << true << 4;
    QTest::newRow("2.5") << QByteArray("2.5") << true << 2;
    QTest::newRow(".5") << QByteArray(".5") << true << 0;
    QTest::newRow("3.") << QByteArray("3.") << true << 3;
    QTest::newRow("&H10") << QByteArray("&H10") << true << 16;
    QTest::newRow("1e2") << QByteArray("1e2") << true << 100;
    QTest::newRow("32767") << QByteArray("32767") << true << 32767;
    QTest::newRow("-32768") << QByteArray("-32768") << true << -32768;
    QTest::newRow("32766.5") << QByteArray("32766.5") << true << 32766;
    QTest::newRow("-32768.5") << QByteArray("-32768.5") << true << -32768;
    QTest::newRow("32768") << QByteArray("32768") << false << 0;
    QTest::newRow("32767.5") << QByteArray("32767.5") << false << 0;
    QTest::newRow("-32769") << QByteArray("-32769") << false << 0;
    QTest::newRow("-32767.5 rounds in") << QByteArray("-32767.5") << true << -32768;
    QTest::newRow("-32769.5") << QByteArray("-32769.5") << false << 0;
    QTest::newRow("1e999") << QByteArray("1e999") << false << 0;
    QTest::newRow("x") << QByteArray("x") << false << 0;
    QTest::newRow("empty") << QByteArray("") << false << 0;
    QTest::newRow("blanks only") << QByteArray("   ") << false << 0;
    QTest::newRow("3x") << QByteArray("3x") << false << 0;
    QTest::newRow("x3") << QByteArray("x3") << false << 0;
    QTest::newRow("1 2") << QByteArray("1 2") << false << 0;
    QTest::newRow("- 5") << QByteArray("- 5") << false << 0;
    QTest::newRow("blank before point") << QByteArray("3 .5") << false << 0;
    QTest::newRow("thousands comma") << QByteArray("1,000") << false << 0;
    QTest::newRow("sign only") << QByteArray("-") << false << 0;
    QTest::newRow("point only") << QByteArray(".") << false << 0;
}

void TestNumberText::toInteger16() {
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    QFETCH(int, number);

    const auto result = quenta::toInteger16(text.toStdString());
    QCOMPARE(result.has_value(), valid);
    if (valid)
        QCOMPARE(int(*result), number);
}

void TestNumberText::deviceAddressUnderCommaLocale_data() {
    deviceAddress_data();
}

void TestNumberText::deviceAddressUnderCommaLocale() {
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    QFETCH(int, address);

    const CommaLocale locale;
    if (!locale.active())
        QSKIP("no locale with a decimal comma is installed");
    const auto result = quenta::deviceAddress(text.toStdString());
    QCOMPARE(result.has_value(), valid);
    if (valid)
        QCOMPARE(int(*result), address);
}

void TestNumberText::toInteger16UnderCommaLocale_data() {
    toInteger16_data();
}

void TestNumberText::toInteger16UnderCommaLocale() {
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    QFETCH(int, number);

    const CommaLocale locale;
    if (!locale.active())
        QSKIP("no locale with a decimal comma is installed");
    const auto result = quenta::toInteger16(text.toStdString());
    QCOMPARE(result.has_value(), valid);
    if (valid)
        QCOMPARE(int(*result), number);
}

QTEST_APPLESS_MAIN(TestNumberText)
#include "tst_numbertext.moc"
