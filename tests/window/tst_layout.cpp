// The window as it stands when the program starts.
#include "FakeHosted.h"
#include "controls/VbColor.h"

#include <QApplication>
#include <QtTest>

using namespace quenta;
using namespace quenta::testing;

class LayoutTest : public QObject {
    Q_OBJECT
private slots:
    void controlTable_data();
    void controlTable();
    void startUp();
    void tabOrder();
};

void LayoutTest::controlTable_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("twips");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("tag");

    const auto row = [](const char *name, const char *kind, const char *container,
                        const QString &text, QRect twips, bool enabled = true,
                        const char *tag = "") {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(kind)
                            << QString::fromLatin1(container) << text << twips << enabled
                            << QString::fromLatin1(tag);
    };
    row("Frame2", "QGroupBox", "frmSerial", "Comm's", {0, 0, 4395, 855});
    row("Label1", "QLabel", "Frame2", "Port: (1-9)", {120, 240, 795, 255});
    row("txt", "QLineEdit", "Frame2", "COM3", {60, 480, 855, 315}, true, "NO");
    row("Pic", "quenta::Shape", "Frame2", "", {720, 0, 195, 255});
    row("Label4", "QLabel", "Frame2", "Speed 9600", {960, 0, 975, 255});
    row("Option1", "QRadioButton", "Frame2", "Option1", {1860, 0, 195, 195});
    row("Label6", "QLabel", "Frame2", "19200", {2040, 0, 495, 255});
    row("Option2", "QRadioButton", "Frame2", "Option2", {2520, 0, 195, 195});
    row("Label7", "QLabel", "Frame2", "115200", {2700, 0, 615, 255});
    row("Option3", "QRadioButton", "Frame2", "Option3", {3300, 0, 195, 195});
    row("Label8", "QLabel", "Frame2", "USB", {3540, 0, 375, 255});
    row("Option4", "QRadioButton", "Frame2", "Option4", {3900, 0, 195, 195});
    row("BTNOpenCom", "QPushButton", "Frame2", "Open", {960, 200, 615, 255}, true, "NO");
    row("BTNCloseCom", "QPushButton", "Frame2", "Close", {960, 480, 615, 255}, false, "NC");
    row("Label2", "QLabel", "Frame2", "No info", {1620, 240, 1755, 255});
    row("Command3", "QPushButton", "Frame2", "Open File and  Download", {1620, 480, 2055, 255});
    row("Command6", "QPushButton", "Frame2", "Install ", {3420, 190, 615, 255});
    row("Command4", "QPushButton", "Frame2", "?", {4080, 190, 255, 255});
    row("Command2", "QPushButton", "Frame2", "Verify", {3720, 480, 615, 255});
    row("Frame4", "QGroupBox", "frmSerial", "Modbus RTU", {4440, 0, 1515, 855});
    row("Check1", "QCheckBox", "Frame4", "Check1", {1200, 0, 255, 255});
    row("Label5", "QLabel", "Frame4", "Addr Device", {60, 240, 915, 255});
    row("Text1", "QLineEdit", "Frame4", "", {1020, 240, 435, 285});
    row("Text2", "QLineEdit", "Frame4", "10", {120, 480, 435, 285});
    row("Command1", "QPushButton", "Frame4", "Set Addr", {600, 520, 795, 255});
    row("Frame3", "QGroupBox", "frmSerial", "Status", {0, 840, 5955, 975});
    row("vbalProgressBar1", "quenta::ProgressBar", "Frame3", "NO FILE", {120, 240, 5715, 255});
    row("Label3", "QLabel", "Frame3", "Answer:", {120, 600, 735, 255});
    row("Text8", "QLineEdit", "frmSerial", "", {720, 1410, 5115, 285});
    row("Command5", "QPushButton", "frmSerial", "Send", {1800, 2760, 855, 255});
}

// The only controls with a tooltip; every other control has none.
static const QHash<QString, QString> kTooltips = {
    {"BTNOpenCom", QStringLiteral("Открыть порт, для USB также остановить сканирование ")},
    {"BTNCloseCom", QStringLiteral("Закрыть порт")},
    {"Command3", QStringLiteral("Открыть файл прошивки м загрузить")},
    {"Command2", QStringLiteral("Проверить загруженную прошивку")},
    {"Command6", QStringLiteral("Проинсталировать загруженную прошивку")},
    {"Command4", QStringLiteral("Узнать версию загрузчика в контроллере ")},
    {"Label8", QStringLiteral("Для USB сначала открвть порт а затем подать питние на контроллер")},
    {"Check1", QStringLiteral("Установить для связи через MODBUS")},
    {"Text1",
     QStringLiteral("Для автопоиска адреса оставить поле пустым  или указать адрес контроллера")},
};

static QString textOf(QWidget *w) {
    for (const char *property : {"title", "text"}) {
        const QVariant value = w->property(property);
        if (value.isValid()) {
            return value.toString();
        }
    }
    return {};
}

void LayoutTest::controlTable() {
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QString, container);
    QFETCH(QString, text);
    QFETCH(QRect, twips);
    QFETCH(bool, enabled);
    QFETCH(QString, tag);

    FakeWindow w;
    const auto found = w.window->findChildren<QWidget *>(name);
    QCOMPARE(found.size(), 1);
    QWidget *control = found.front();
    QVERIFY2(control->inherits(kind.toLatin1()), control->metaObject()->className());
    QCOMPARE(control->parentWidget()->objectName(), container);
    QCOMPARE(textOf(control), text);
    QCOMPARE(control->geometry(),
             QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
    QCOMPARE(control->isEnabled(), enabled);
    QCOMPARE(control->property("Tag").toString(), tag);
    QCOMPARE(control->toolTip(), kTooltips.value(name));
}

void LayoutTest::startUp() {
    FakeWindow w;
    QCOMPARE(w->windowTitle(), QStringLiteral("Quenta V 4.1"));
    QCOMPARE(w->size(), QSize(397, 123));
    QVERIFY(!w->windowIcon().isNull());
    QCOMPARE(QImage(QStringLiteral(":/quenta.png")).size(), QSize(24, 24));
    int withTooltip = 0;
    for (QWidget *control : w.window->findChildren<QWidget *>()) {
        withTooltip += control->toolTip().isEmpty() ? 0 : 1;
    }
    QCOMPARE(withTooltip, 9);
    for (Timer *timer : {w->Timer3, w->TMRComm}) {
        QVERIFY(!timer->enabled());
        QCOMPARE(timer->timerType(), Qt::PreciseTimer);
    }
    QCOMPARE(w->Timer3->interval(), 200);
    QCOMPARE(w->TMRComm->interval(), 30);

    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
    QVERIFY(w->Pic->isVisible());
    QCOMPARE(w->Pic->fillColor(), VbColor::Yellow);
    QVERIFY(w->Option3->isChecked());
    QCOMPARE(QApplication::focusWidget(), w->txt[0]);
    // Nothing ran at start: no port was touched and the state is all zero.
    QCOMPARE(w.port->openAttempts, 0);
    QVERIFY(w.port->settingsLog.isEmpty());
    QVERIFY(w.port->written.empty());
    QCOMPARE(w->ScanPort, 0);
    QCOMPARE(w->LineCount, 0);
    QCOMPARE(w->FileLoaded, 0);
    // "Send" is enabled but lies below the visible area.
    QVERIFY(w->Command5->isEnabled());
    QVERIFY(w->Command5->y() >= w->height());
    QVERIFY(w->Command5->visibleRegion().isEmpty());
    QVERIFY(w->Text8->visibleRegion().boundingRect().width() > 0);
}

void LayoutTest::tabOrder() {
    FakeWindow w;
    w->BTNCloseCom->setEnabled(true);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
    const QList<QWidget *> expected = {w->txt[0],   w->BTNOpenCom, w->BTNCloseCom, w->Command3,
                                       w->Command4, w->Command5,   w->Command6,    w->Text8,
                                       w->Check1,   w->Text1,      w->Text2,       w->Command1,
                                       w->Command2};
    w->txt[0]->setFocus();
    for (qsizetype i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), expected[i]);
    }
}

QTEST_MAIN(LayoutTest)
#include "tst_layout.moc"
