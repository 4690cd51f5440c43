// Reading numbers out of address and port boxes.
#include "pure/NumberText.h"

#include <QTest>

#include <clocale>
#include <limits>

using namespace quenta;

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();

template <typename T> QByteArray shown(const std::optional<T> &result) {
    return result ? QByteArray::number(int(*result)) : QByteArray("none");
}
} // namespace

class TestNumbers : public QObject {
    Q_OBJECT
private slots:
    // Blanks are skipped anywhere; reading stops at the first character that does not fit; "&H"
    // takes up to eight hexadecimal digits as a 32-bit two's complement number.
    void readNumber_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<double>("expected");
        // clang-format off
        const std::pair<const char *, double> rows[] = {
            {"+7", 7}, {"-12.5", -12.5}, {".5", 0.5}, {"1.5e2", 150}, {"1D2", 100}, {"25E-1", 2.5},
            {" \t1 2", 12}, {"- 5", -5}, {"1 e 2", 100}, {"12abc", 12}, {"7E-", 7}, {"1.2.3", 1.2},
            {"1,5", 1}, {"1\r2", 1}, {"", 0}, {".", 0}, {"--5", 0}, {"&haB", 171}, {"& H1 0", 16},
            {"&H1G", 1}, {"&H80000000", -2147483648.0}, {"&H100000000", kInf}, {"1e999", kInf},
            {"-1e999", -kInf}};
        // clang-format on
        for (const auto &[text, value] : rows) {
            QTest::addRow("[%s]", text) << QByteArray(text) << value;
        }
    }

    void readNumber() {
        QFETCH(QByteArray, text);
        QFETCH(double, expected);
        QCOMPARE(quenta::readNumber(text.toStdString()), expected);
    }

    // An address is read like a number and must lie in 0..255; a port number is the whole text as
    // one number (blanks only around it) in -32768..32767. Both round halves to even.
    void addressAndInteger_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("address");
        QTest::addColumn<QByteArray>("fault"); // of the address box: N none, W no number, R range
        QTest::addColumn<QByteArray>("integer");
        // clang-format off
        const char *rows[][4] = {
            {"", "0", "N", "none"}, {" \t12 \t", "12", "N", "12"}, {" 2 5 5 ", "255", "N", "none"},
            {"five", "0", "W", "none"}, {"   ", "0", "W", "none"}, {"- 5", "none", "R", "none"},
            {"12abc", "12", "N", "none"}, {"3.", "3", "N", "3"}, {"2.5", "2", "N", "2"},
            {"3.5", "4", "N", "4"}, {"300", "none", "R", "300"}, {"-0.6", "none", "R", "-1"},
            {"&HFF", "255", "N", "255"}, {"255.5", "none", "R", "256"},
            {"&HFFFFFFFF", "none", "R", "-1"},
            {"32767.5", "none", "R", "none"}, {"-32768.5", "none", "R", "-32768"}};
        // clang-format on
        for (const auto &row : rows) {
            QTest::addRow("[%s]", row[0]) << QByteArray(row[0]) << QByteArray(row[1])
                                          << QByteArray(row[2]) << QByteArray(row[3]);
        }
    }

    void addressAndInteger() {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, address);
        QFETCH(QByteArray, fault);
        QFETCH(QByteArray, integer);
        QCOMPARE(shown(deviceAddress(text.toStdString())), address);
        QCOMPARE(shown(toInteger16(text.toStdString())), integer);
        const AddressReading reading = readDeviceAddress(text.toStdString());
        QCOMPARE(QByteArray(1, "NWR"[int(reading.fault)]), fault);
    }

    // The window runs under the user's locale; "2.5" must read the same where decimals are written
    // with a comma.
    void commaLocale() {
        const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
        if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") ||
            *std::localeconv()->decimal_point != ',') {
            std::setlocale(LC_NUMERIC, saved.c_str());
            QSKIP("no locale with a decimal comma is installed");
        }
        const QByteArray read = QByteArray::number(quenta::readNumber("-12.5")) + ' ' +
                                shown(deviceAddress("3.5")) + ' ' + shown(toInteger16("2,5"));
        std::setlocale(LC_NUMERIC, saved.c_str());
        QCOMPARE(read, QByteArray("-12.5 4 none"));
    }
};

QTEST_APPLESS_MAIN(TestNumbers)
#include "tst_numbers.moc"
