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
    void emptyContentIsAtEnd();
};

void TestHexReading::items_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QList<QByteArray>>("expected");

    using L = QList<QByteArray>;
    // records and line ends
    QTest::newRow("end record") << QByteArray(":00000001FF\r\n") << L{":00000001FF"};
    QTest::newRow("two records")
        << QByteArray(":10010000214601360121470136007EFE09D2190140\r\n:00000001FF\r\n")
        << L{":10010000214601360121470136007EFE09D2190140", ":00000001FF"};
    QTest::newRow("no line end at the end") << QByteArray(":00000001FF") << L{":00000001FF"};
    QTest::newRow("CR LF, last line open") << QByteArray("a\r\nb") << L{"a", "b"};
    QTest::newRow("LF lines") << QByteArray("a\nb\n") << L{"a", "b"};
    QTest::newRow("lone CR lines") << QByteArray("a\rb\r") << L{"a", "b"};
    QTest::newRow("lone CR, last line open") << QByteArray("a\rb") << L{"a", "b"};
    QTest::newRow("mixed line ends") << QByteArray("a\r\nb\nc\rd") << L{"a", "b", "c", "d"};

    // empty lines
    QTest::newRow("empty line between") << QByteArray("a\n\nb\n") << L{"a", "", "b"};
    QTest::newRow("empty last line") << QByteArray("a\n\n") << L{"a", ""};
    QTest::newRow("empty CR LF line between") << QByteArray("a\r\n\r\nb") << L{"a", "", "b"};
    QTest::newRow("empty CR LF last line") << QByteArray("a\r\n\r\n") << L{"a", ""};
    QTest::newRow("empty lone CR last line") << QByteArray("a\r\r") << L{"a", ""};
    QTest::newRow("LF then empty CR LF line") << QByteArray("a\n\r\n") << L{"a", ""};
    QTest::newRow("empty lines first") << QByteArray("\n\na") << L{"", "", "a"};
    QTest::newRow("only a line end") << QByteArray("\n") << L{""};
    QTest::newRow("only CR LF") << QByteArray("\r\n") << L{""};

    // commas
    QTest::newRow("comma") << QByteArray("a,b\n") << L{"a", "b"};
    QTest::newRow("three on a line") << QByteArray("a,b,c") << L{"a", "b", "c"};
    QTest::newRow("comma before line end") << QByteArray("a,\n") << L{"a", ""};
    QTest::newRow("comma first") << QByteArray(",b\n") << L{"", "b"};
    QTest::newRow("two commas") << QByteArray("a,,b\n") << L{"a", "", "b"};
    QTest::newRow("comma, then next line") << QByteArray("a,b\r\nc\r\n") << L{"a", "b", "c"};

    // blanks
    QTest::newRow("blanks around unquoted") << QByteArray("  a  ,\tb\t\n") << L{"a", "b"};
    QTest::newRow("blanks inside kept") << QByteArray("a b\n") << L{"a b"};
    QTest::newRow("blank line") << QByteArray("a\n   \nb") << L{"a", "", "b"};

    // quotes
    QTest::newRow("quoted with comma") << QByteArray("  \"x,y\"  \n") << L{"x,y"};
    QTest::newRow("quoted blanks kept") << QByteArray("\" a \"\n") << L{" a "};
    QTest::newRow("empty quotes") << QByteArray("\"\"\n") << L{""};
    QTest::newRow("text after closing quote dropped") << QByteArray("\"x\"junk,y\n") << L{"x", "y"};
    QTest::newRow("text after closing quote up to line end")
        << QByteArray("\"x\" junk\ny") << L{"x", "y"};
    QTest::newRow("quote open to end of line") << QByteArray("\"abc\nd") << L{"abc", "d"};
    QTest::newRow("quote open to CR LF") << QByteArray("\"abc\r\nd\r\n") << L{"abc", "d"};
    QTest::newRow("quote open to end of content") << QByteArray("\"abc") << L{"abc"};
    QTest::newRow("quoted then CR LF") << QByteArray("\"x\"\r\ny") << L{"x", "y"};
    QTest::newRow("quoted then empty line") << QByteArray("\"x\"\r\n\r\n") << L{"x", ""};
    QTest::newRow("two quoted on a line") << QByteArray("\"a\",\"b\"\n") << L{"a", "b"};
    QTest::newRow("tab before quote") << QByteArray("\t\"a\"") << L{"a"};
    QTest::newRow("quote open to lone CR") << QByteArray("\"abc\rd") << L{"abc", "d"};
    QTest::newRow("quotes after closing quote dropped")
        << QByteArray("\"a\"b\"c\",d") << L{"a", "d"};
    QTest::newRow("blanks only") << QByteArray("  ") << L{""};
    QTest::newRow("quote in the middle of an item") << QByteArray("a\"b\n") << L{"a\"b"};
}

void TestHexReading::items() {
    QFETCH(QByteArray, content);
    QFETCH(QList<QByteArray>, expected);

    const std::string text = content.toStdString();
    HexItemReader reader(text);
    QList<QByteArray> actual;
    // Every item takes at least its separator, so there can never be more items than this.
    const int guard = int(content.size()) + 2;
    while (!reader.atEnd() && actual.size() < guard) {
        const std::string item = reader.next();
        QVERIFY2(item.find('\r') == std::string::npos, item.c_str());
        QVERIFY2(item.find('\n') == std::string::npos, item.c_str());
        actual.append(QByteArray::fromStdString(item));
    }
    QCOMPARE(actual, expected);
    QVERIFY(reader.atEnd());
}

void TestHexReading::emptyContentIsAtEnd() {
    HexItemReader reader(std::string_view{});
    QVERIFY(reader.atEnd());
    HexItemReader fromEmptyText("");
    QVERIFY(fromEmptyText.atEnd());
}

QTEST_APPLESS_MAIN(TestHexReading)
#include "tst_hexreading.moc"
