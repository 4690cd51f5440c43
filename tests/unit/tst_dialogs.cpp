// The "description|pattern" filter of the open-file chooser as the Qt file dialog wants it.

#include "controls/Dialogs.h"

#include <QString>
#include <QTest>

using namespace quenta;

class TestDialogs : public QObject {
    Q_OBJECT

private slots:
    void toDialogFilter_data();
    void toDialogFilter();
};

void TestDialogs::toDialogFilter_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("expected");

    QTest::newRow("pattern already in description")
        << QStringLiteral("HEX files (*.hex)|*.hex") << QStringLiteral("HEX files (*.hex)");
    QTest::newRow("pattern added")
        << QStringLiteral("Text|*.txt") << QStringLiteral("Text (*.txt)");
    QTest::newRow("two pairs") << QStringLiteral("Text|*.txt|HEX files (*.hex)|*.hex")
                               << QStringLiteral("Text (*.txt);;HEX files (*.hex)");
}

void TestDialogs::toDialogFilter() {
    QFETCH(QString, filter);
    QFETCH(QString, expected);

    QCOMPARE(quenta::toDialogFilter(filter), expected);
}

QTEST_APPLESS_MAIN(TestDialogs)
#include "tst_dialogs.moc"
