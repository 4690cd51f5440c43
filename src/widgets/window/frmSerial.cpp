#include "widgets/window/frmSerial.h"

#include "io/port/QtSerialPortControl.h"
#include "widgets/controls/ButtonLabel.h"
#include "widgets/controls/PortCompleter.h"
#include "widgets/controls/VbColor.h"

#include <QApplication>
#include <QIcon>

#include <utility>

namespace quenta {
namespace {

constexpr int kTwipsPerPixel = 15;

// Positions and sizes are kept in twips, as the layout was drawn.
template <typename W> W *place(W *widget, int left, int top, int width, int height) {
    widget->setGeometry(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
                        height / kTwipsPerPixel);
    return widget;
}

template <typename W> W *named(W *widget, const char *name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

} // namespace

frmSerial::frmSerial(Hosted hosted, QWidget *parent) : QWidget(parent), hosted_(std::move(hosted)) {
    if (!hosted_.port) {
        hosted_.port = std::make_unique<QtSerialPortControl>();
    }
    if (!hosted_.fileChooser) {
        hosted_.fileChooser = std::make_unique<QtFileChooser>(this);
    }
    if (!hosted_.messageBox) {
        hosted_.messageBox = std::make_unique<QtMessageBox>(this);
    }
    if (!hosted_.sleeper) {
        hosted_.sleeper = std::make_unique<ThreadSleeper>();
    }
    if (!hosted_.clock) {
        hosted_.clock = std::make_unique<SteadyClock>();
    }
    MSComm1 = hosted_.port.get();
    CommonDialog1 = hosted_.fileChooser.get();
    messageBox_ = hosted_.messageBox.get();
    sleeper_ = hosted_.sleeper.get();
    clock_ = hosted_.clock.get();

    buildControls();
    connectEvents();
}

frmSerial::~frmSerial() = default;

void frmSerial::buildControls() {
    setObjectName(QStringLiteral("frmSerial"));
    setWindowTitle(QStringLiteral("Quenta V 4.1"));
    setWindowIcon(QIcon(QStringLiteral(":/quenta.png")));
    setFixedSize(5955 / kTwipsPerPixel, 1845 / kTwipsPerPixel);
    // The layout was drawn for a small, narrow dialog font: DejaVu Sans, 10 pixels high,
    // semi-condensed, leaves a blank between each speed's name and its option button, and keeps
    // every caption within its control, at any scale. Where DejaVu Sans has no semi-condensed face,
    // its face is narrowed to the same stretch.
    QFont small = font();
    small.setFamily(QStringLiteral("DejaVu Sans"));
    small.setStyleHint(QFont::SansSerif);
    small.setPixelSize(10);
    small.setStretch(QFont::SemiCondensed);
    setFont(small);

    Frame2 = named(place(new QGroupBox(QStringLiteral("Comm's"), this), 0, 0, 4395, 855), "Frame2");
    Label1[0] = named(place(new QLabel(QStringLiteral("Port: (1-9)"), Frame2), 120, 240, 795, 255),
                      "Label1");
    txt[0] = named(place(new QLineEdit(QStringLiteral("COM3"), Frame2), 60, 480, 855, 315), "txt");
    txt[0]->setProperty("Tag", QStringLiteral("NO"));
    new PortCompleter(txt[0]); // owned by the box
    Pic = named(place(new Shape(Frame2), 720, 0, 195, 255), "Pic");
    Label4 =
        named(place(new QLabel(QStringLiteral("Speed 9600"), Frame2), 960, 0, 975, 255), "Label4");
    Option1 = named(place(new QRadioButton(QStringLiteral("Option1"), Frame2), 1860, 0, 195, 195),
                    "Option1");
    Label6 = named(place(new QLabel(QStringLiteral("19200"), Frame2), 2040, 0, 495, 255), "Label6");
    Option2 = named(place(new QRadioButton(QStringLiteral("Option2"), Frame2), 2520, 0, 195, 195),
                    "Option2");
    Label7 =
        named(place(new QLabel(QStringLiteral("115200"), Frame2), 2700, 0, 615, 255), "Label7");
    Option3 = named(place(new QRadioButton(QStringLiteral("Option3"), Frame2), 3300, 0, 195, 195),
                    "Option3");
    Option3->setChecked(true);
    Label8 = named(place(new QLabel(QStringLiteral("USB"), Frame2), 3540, 0, 375, 255), "Label8");
    Option4 = named(place(new QRadioButton(QStringLiteral("Option4"), Frame2), 3900, 0, 195, 195),
                    "Option4");
    BTNOpenCom = named(place(new QPushButton(QStringLiteral("Open"), Frame2), 960, 200, 615, 255),
                       "BTNOpenCom");
    BTNOpenCom->setProperty("Tag", QStringLiteral("NO"));
    BTNCloseCom = named(place(new QPushButton(QStringLiteral("Close"), Frame2), 960, 480, 615, 255),
                        "BTNCloseCom");
    BTNCloseCom->setProperty("Tag", QStringLiteral("NC"));
    BTNCloseCom->setEnabled(false);
    Label2 =
        named(place(new QLabel(QStringLiteral("No info"), Frame2), 1620, 240, 1755, 255), "Label2");
    Command3 = named(place(new QPushButton(QStringLiteral("Open File and  Download"), Frame2), 1620,
                           480, 2055, 255),
                     "Command3");
    Command6 =
        named(place(new QPushButton(QStringLiteral("Install "), Frame2), 3420, 190, 615, 255),
              "Command6");
    Command4 =
        named(place(new QPushButton(QStringLiteral("?"), Frame2), 4080, 190, 255, 255), "Command4");
    Command2 = named(place(new QPushButton(QStringLiteral("Verify"), Frame2), 3720, 480, 615, 255),
                     "Command2");

    Frame4 = named(place(new QGroupBox(QStringLiteral("Modbus RTU"), this), 4440, 0, 1515, 855),
                   "Frame4");
    Check1 =
        named(place(new QCheckBox(QStringLiteral("Check1"), Frame4), 1200, 0, 255, 255), "Check1");
    Label5 = named(place(new QLabel(QStringLiteral("Addr Device"), Frame4), 60, 240, 915, 255),
                   "Label5");
    Text1 = named(place(new QLineEdit(Frame4), 1020, 240, 435, 285), "Text1");
    Text2 = named(place(new QLineEdit(QStringLiteral("10"), Frame4), 120, 480, 435, 285), "Text2");
    Command1 = named(place(new QPushButton(QStringLiteral("Set Addr"), Frame4), 600, 520, 795, 255),
                     "Command1");

    Frame3 =
        named(place(new QGroupBox(QStringLiteral("Status"), this), 0, 840, 5955, 975), "Frame3");
    vbalProgressBar1 =
        named(place(new ProgressBar(Frame3), 120, 240, 5715, 255), "vbalProgressBar1");
    Label3 =
        named(place(new QLabel(QStringLiteral("Answer:"), Frame3), 120, 600, 735, 255), "Label3");
    Text8 = named(place(new QLineEdit(this), 720, 1410, 5115, 285), "Text8");
    Command5 = named(place(new QPushButton(QStringLiteral("Send"), this), 1800, 2760, 855, 255),
                     "Command5");

    Timer3 = named(new Timer(200, this), "Timer3");
    TMRComm = named(new Timer(30, this), "TMRComm");

    // The caption of the port frame is dark blue; what it holds keeps the ordinary text colour.
    const QColor text = QApplication::palette().color(QPalette::WindowText);
    for (QWidget *child : Frame2->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        QPalette palette = child->palette();
        palette.setColor(QPalette::WindowText, text);
        child->setPalette(palette);
    }
    QPalette framePalette = Frame2->palette();
    framePalette.setColor(QPalette::WindowText, fromBgr(VbColor::DarkBlue));
    Frame2->setPalette(framePalette);

    BTNOpenCom->setToolTip(QStringLiteral("Открыть порт, для USB также остановить сканирование "));
    BTNCloseCom->setToolTip(QStringLiteral("Закрыть порт"));
    Command3->setToolTip(QStringLiteral("Открыть файл прошивки м загрузить"));
    Command2->setToolTip(QStringLiteral("Проверить загруженную прошивку"));
    Command6->setToolTip(QStringLiteral("Проинсталировать загруженную прошивку"));
    Command4->setToolTip(QStringLiteral("Узнать версию загрузчика в контроллере "));
    Label8->setToolTip(
        QStringLiteral("Для USB сначала открвть порт а затем подать питние на контроллер"));
    Check1->setToolTip(QStringLiteral("Установить для связи через MODBUS"));
    Text1->setToolTip(QStringLiteral(
        "Для автопоиска адреса оставить поле пустым  или указать адрес контроллера"));

    // Keyboard order; frames, labels, the lamp and the bar take no focus.
    const std::array<QWidget *, 17> tabOrder = {
        txt[0], BTNOpenCom, BTNCloseCom, Command3, Command4, Command5, Command6, Text8,  Check1,
        Text1,  Text2,      Command1,    Command2, Option1,  Option2,  Option3,  Option4};
    for (std::size_t i = 0; i + 1 < tabOrder.size(); ++i) {
        setTabOrder(tabOrder[i], tabOrder[i + 1]);
    }
    Text8->raise();
    // The bare option buttons are drawn whole, over the labels that reach into them; each speed's
    // name, to the left of its button, chooses it when clicked.
    for (const auto &[label, option] : {std::pair(Label4, Option1), std::pair(Label6, Option2),
                                        std::pair(Label7, Option3), std::pair(Label8, Option4)}) {
        option->raise();
        new ButtonLabel(label, option); // owned by the label
    }
    txt[0]->setFocus();
}

void frmSerial::connectEvents() {
    connect(BTNOpenCom, &QPushButton::clicked, this, &frmSerial::BTNOpenCom_Click);
    connect(BTNCloseCom, &QPushButton::clicked, this, &frmSerial::BTNCloseCom_Click);
    connect(Command3, &QPushButton::clicked, this, &frmSerial::Command3_Click);
    connect(Command2, &QPushButton::clicked, this, &frmSerial::Command2_Click);
    connect(Command5, &QPushButton::clicked, this, &frmSerial::Command5_Click);
    connect(Command1, &QPushButton::clicked, this, &frmSerial::Command1_Click);
    connect(Command6, &QPushButton::clicked, this, &frmSerial::Command6_Click);
    connect(Command4, &QPushButton::clicked, this, &frmSerial::Command4_Click);
    // Enter in the port box does what Open does.
    connect(txt[0], &QLineEdit::returnPressed, BTNOpenCom, &QPushButton::click);
    connect(Timer3, &QTimer::timeout, this, &frmSerial::Timer3_Timer);
    connect(TMRComm, &QTimer::timeout, this, &frmSerial::TMRComm_Timer);
}

QRadioButton *frmSerial::selectedOption() const {
    for (QRadioButton *option : {Option1, Option2, Option3, Option4}) {
        if (option->isChecked()) {
            return option;
        }
    }
    return Option3;
}

// Tab enters the speed options on the selected one and leaves them in one step.
bool frmSerial::focusNextPrevChild(bool next) {
    const auto isOption = [this](const QWidget *w) {
        return w == Option1 || w == Option2 || w == Option3 || w == Option4;
    };
    const bool fromOption = isOption(focusWidget());
    if (!QWidget::focusNextPrevChild(next)) {
        return false;
    }
    for (int step = 0; fromOption && isOption(focusWidget()) && step < 4; ++step) {
        QWidget::focusNextPrevChild(next);
    }
    if (!fromOption && isOption(focusWidget())) {
        selectedOption()->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    }
    return true;
}

} // namespace quenta
