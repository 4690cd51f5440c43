// The window's port box offers the demo board's port while it exists.
#include "FakeHosted.h"
#include "Pty.h"

#include <QAbstractItemModel>
#include <QAbstractItemView>
#include <QCompleter>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace quenta;
using namespace quenta::testing;

namespace {

QStringList offered(const QLineEdit *box) {
    QStringList rows;
    const QAbstractItemModel *model = box->completer()->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        rows.append(model->index(row, 0).data().toString());
    }
    return rows;
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void demoBoardOfferedWhileThere();

private:
    QTemporaryDir runtime_;
    Pty pty_;
};

void WindowTest::initTestCase() {
    QVERIFY(runtime_.isValid());
    QVERIFY2(!pty_.path().isEmpty(), "no pseudo-terminal");
    qputenv("XDG_RUNTIME_DIR", runtime_.path().toLocal8Bit());
}

void WindowTest::demoBoardOfferedWhileThere() {
    const QString demo = runtime_.filePath(QStringLiteral("quenta-demo-board"));
    QVERIFY(QFile::link(pty_.path(), demo));

    FakeWindow w;
    w->show();
    QApplication::setActiveWindow(w.window.get());
    QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
    QLineEdit *box = w->txt[0];
    QCOMPARE(QApplication::focusWidget(), box);
    QVERIFY(box->completer() != nullptr);
    QVERIFY(offered(box).contains(demo));
    QCOMPARE(box->text(), QStringLiteral("COM3"));

    // The board stops: its port is gone from the list once the box has the focus again.
    QVERIFY(QFile::remove(demo));
    QVERIFY(offered(box).contains(demo));
    w->Text1->setFocus();
    box->setFocus();
    QCOMPARE(QApplication::focusWidget(), box);
    QVERIFY(!offered(box).contains(demo));
    QCOMPARE(box->text(), QStringLiteral("COM3"));

    // It starts again.
    QVERIFY(QFile::link(pty_.path(), demo));
    w->Text1->setFocus();
    box->setFocus();
    QVERIFY(offered(box).contains(demo));
    QVERIFY(!box->completer()->popup()->isVisible());
    QCOMPARE(box->text(), QStringLiteral("COM3"));
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
