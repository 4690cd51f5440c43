// Reading a firmware file item by item.

#include "transfer/HexReading.h"

#include <QByteArray>
#include <QList>
#include <QTest>

#include <string>

using namespace quenta;

class TestHexReading : public QObject {
    Q_OBJECT

private slots:
    void items_data();
    void items();
};

void TestHexReading::items_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QList<QByteArray>>("expected");

    using L = QList<QByteArray>;
    QTest::newRow("nothing") << QByteArray() << L{};
    QTest::newRow("two records, CR LF")
        << QByteArray(":10010000214601360121470136007EFE09D2190140\r\n:00000001FF\r\n")
        << L{":10010000214601360121470136007EFE09D2190140", ":00000001FF"};
    QTest::newRow("lone CR lines") << QByteArray("a\rb\r") << L{"a", "b"};
    QTest::newRow("mixed line ends") << QByteArray("a\r\nb\nc\rd") << L{"a", "b", "c", "d"};
    // empty lines
    QTest::newRow("empty LF lines") << QByteArray("\na\n\nb\n\n") << L{"", "a", "", "b", ""};
    QTest::newRow("empty CR LF lines") << QByteArray("a\r\n\r\nb\r\n\r\n") << L{"a", "", "b", ""};
    QTest::newRow("empty lone CR line") << QByteArray("a\r\r") << L{"a", ""};
    QTest::newRow("blank line") << QByteArray("a\n   \nb") << L{"a", "", "b"};
    // commas and blanks
    QTest::newRow("commas") << QByteArray("a,b,c\r\nd") << L{"a", "b", "c", "d"};
    QTest::newRow("empty items between commas")
        << QByteArray(",a,,b,\n") << L{"", "a", "", "b", ""};
    QTest::newRow("blanks around unquoted") << QByteArray("  a  ,\tb\t\n") << L{"a", "b"};
    QTest::newRow("blanks inside kept") << QByteArray("a b\n") << L{"a b"};
    // quotes
    QTest::newRow("quoted with comma") << QByteArray("  \"x,y\"  \n") << L{"x,y"};
    QTest::newRow("quoted blanks kept") << QByteArray("\" a \",\"\"\n") << L{" a ", ""};
    QTest::newRow("text after closing quote dropped")
        << QByteArray("\"x\"j\"k\",y\n") << L{"x", "y"};
    QTest::newRow("quote open to LF") << QByteArray("\"abc\nd") << L{"abc", "d"};
    QTest::newRow("quote open to CR LF") << QByteArray("\"abc\r\nd\r\n") << L{"abc", "d"};
    QTest::newRow("quote open to lone CR") << QByteArray("\"abc\rd") << L{"abc", "d"};
    QTest::newRow("quote inside an item") << QByteArray("a\"b\n") << L{"a\"b"};
}

void TestHexReading::items() {
    QFETCH(QByteArray, content);
    QFETCH(QList<QByteArray>, expected);

    const std::string text = content.toStdString();
    HexItemReader reader(text);
    QList<QByteArray> actual;
    // Every item takes at least its separator, so there can never be more items than this.
    while (!reader.atEnd() && actual.size() <= content.size())
        actual.append(QByteArray::fromStdString(reader.next()));
    QCOMPARE(actual, expected);
}

QTEST_APPLESS_MAIN(TestHexReading)
#include "tst_hexreading.moc"
