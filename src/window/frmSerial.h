#pragma once

#include "controls/Dialogs.h"
#include "controls/ProgressBar.h"
#include "controls/SerialPortControl.h"
#include "controls/Shape.h"
#include "controls/Timer.h"
#include "link/PlainAnswer.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quenta {

// The outside world the window talks to. Whatever is left empty is the real thing.
struct Hosted {
    std::unique_ptr<SerialPortControl> port;
    std::unique_ptr<FileChooser> fileChooser;
    std::unique_ptr<MessageBox> messageBox;
    std::unique_ptr<Sleeper> sleeper;
};

// The one window: its controls, its state and every procedure of the program.
class frmSerial : public QWidget {
    Q_OBJECT
public:
    explicit frmSerial(Hosted hosted = {}, QWidget *parent = nullptr);
    ~frmSerial() override;

    static constexpr int kMaxLines = 9000;
    static constexpr std::int16_t kUsbScanLimit = 200;
    static constexpr std::int16_t kProbeLimit = 128;

    // Controls.
    QGroupBox *Frame2;
    std::array<QLabel *, 1> Label1;
    std::array<QLineEdit *, 1> txt;
    Shape *Pic;
    QLabel *Label4;
    QRadioButton *Option1;
    QLabel *Label6;
    QRadioButton *Option2;
    QLabel *Label7;
    QRadioButton *Option3;
    QLabel *Label8;
    QRadioButton *Option4;
    QPushButton *BTNOpenCom;
    QPushButton *BTNCloseCom;
    QLabel *Label2;
    QPushButton *Command3;
    QPushButton *Command6;
    QPushButton *Command4;
    QPushButton *Command2;
    QGroupBox *Frame4;
    QCheckBox *Check1;
    QLabel *Label5;
    QLineEdit *Text1;
    QLineEdit *Text2;
    QPushButton *Command1;
    QGroupBox *Frame3;
    ProgressBar *vbalProgressBar1;
    QLabel *Label3;
    QLineEdit *Text8;
    QPushButton *Command5;
    Timer *Timer3;
    Timer *TMRComm;
    SerialPortControl *MSComm1;
    FileChooser *CommonDialog1;

    // State.
    std::int16_t PortNumber = 0;
    std::int16_t ScanPort = 0;
    std::int16_t Scanning = 0;
    std::int16_t AddrStep = 0;
    std::array<std::string, kMaxLines + 1> HexLines;
    std::int16_t LineCount = 0;
    std::int16_t LineIndex = 0;
    std::int16_t VerifyMode = 0;
    std::int16_t TransferRequested = 0;
    std::int16_t FileLoaded = 0;
    std::string RxAnswer;
    std::string RxFrame;   // Modbus receive buffer
    PlainReceiver RxPlain; // plain-mode characters of an answer still arriving
    std::int16_t BlinkCount = 0;

    // Event procedures.
    void BTNOpenCom_Click();
    void BTNCloseCom_Click();
    void Command3_Click();
    void Command2_Click();
    void Command5_Click();
    void Command1_Click();
    void Command6_Click();
    void Command4_Click();
    void Timer3_Timer();
    void TMRComm_Timer();
    void Form_Unload(std::int16_t &Cancel);

    // Private procedures, public so that they can be driven one by one.
    void OPEN_PORT();
    void Com_Parser();
    void SwitchTags();
    int WriteCOM32(std::string_view COMString);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void connectEvents();
    void openSelectedPort();
    void showPortLit(bool lit);
    void showNotAvailable(const QString &message);
    void completeConnection();
    void collectPlain(const std::string &read);
    void collectModbus(const std::string &read);
    void takeModbusAnswers(std::uint8_t address, const std::string &read);
    void loadAndSend(std::int16_t verifyMode);
    void showAnswer(std::string_view text);

    Hosted hosted_;
    MessageBox *messageBox_;
    Sleeper *sleeper_;
};

} // namespace quenta
