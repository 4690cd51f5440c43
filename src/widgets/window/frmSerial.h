#pragma once

#include "io/port/SerialPortControl.h"
#include "pure/AnswerLines.h"
#include "pure/ConnectionSearch.h"
#include "pure/ModbusFrame.h"
#include "pure/engine/FirmwareJob.h"
#include "widgets/controls/Dialogs.h"
#include "widgets/controls/ProgressBar.h"
#include "widgets/controls/Shape.h"
#include "widgets/controls/Timer.h"

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
#include <optional>
#include <string>
#include <string_view>

namespace quenta {

// The outside world the window talks to. Whatever is left empty is the real thing.
struct Hosted {
    std::unique_ptr<SerialPortControl> port;
    std::unique_ptr<FileChooser> fileChooser;
    std::unique_ptr<MessageBox> messageBox;
    std::unique_ptr<Sleeper> sleeper;
    std::unique_ptr<Clock> clock;
};

// The one window: its controls, its state and every procedure of the program. The procedures read
// the controls, let the job core decide and show what it decided.
class frmSerial : public QWidget {
    Q_OBJECT
public:
    explicit frmSerial(Hosted hosted = {}, QWidget *parent = nullptr);
    ~frmSerial() override;

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
    ConnectionSearch search; // ScanPort, Scanning, AddrStep
    FirmwareJob job; // HexLines, LineCount, LineIndex, VerifyMode, TransferRequested, FileLoaded
    std::string RxAnswer;
    ModbusReceiver RxFrame; // Modbus receive buffer
    AnswerLines RxLines;    // plain-mode receive buffer: the line still arriving
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
    bool focusNextPrevChild(bool next) override;

private:
    void buildControls();
    void connectEvents();
    void openSelectedPort();
    void showPortLit(bool lit);
    void showNotAvailable(const QString &message);
    void completeConnection();
    void portLost(const QString &why);
    void collect(const std::string &read);
    void collectPlain(const std::string &read);
    void collectModbus(const std::string &read);
    void collectQuiet();
    // Shows a frame of the answers, or what was wrong with the characters `read`.
    void takeFrame(ModbusEvent event, const std::string &read);
    AddressSet acceptedAddresses() const;
    void foundInSearch(std::uint8_t address);
    void loadAndSend(bool verifyAlone);
    void startJob();
    void stopJob();
    // The board's address on a Modbus line, from the address box; none after saying why in the
    // answer box when the box holds no address.
    std::optional<std::uint8_t> modbusAddress();
    // Sends the lines the job asks for, then shows what it decided.
    void runJob(const JobView &view);
    void sendJobLines(const JobView &view);
    void showJob(const JobView &view);
    void showAnswer(std::string_view text);
    void showAnswer(const QString &text);
    QRadioButton *selectedOption() const;

    Hosted hosted_;
    MessageBox *messageBox_;
    Sleeper *sleeper_;
    Clock *clock_;
    // The Modbus addresses the address search probed since it began, whose answers are taken
    // although the address box has moved on; empty when no search runs.
    AddressSet awaited_;
    std::optional<std::string> lineDue_;   // the job's next line, for Command5_Click
    std::optional<std::int64_t> jobAlarm_; // when the job's wait is over
};

} // namespace quenta
