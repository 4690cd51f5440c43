#pragma once

// Stand-ins for the outside world of the window: a serial port that records what is written and
// answers from a script, a file chooser that picks given paths, message boxes that record what
// they showed and answer questions as told, and a sleep that only counts.

#include "io/port/ControlError.h"
#include "widgets/window/frmSerial.h"

#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quenta::testing {

class FakeSerialPort : public SerialPortControl {
public:
    void setSettings(const QString &settings) override { settingsLog.push_back(settings); }
    void setCommPort(std::int16_t number) override { commPort = QString::number(number); }
    void setCommPort(const QString &devicePath) override { commPort = devicePath; }
    void setPortOpen(bool open) override {
        if (open) {
            ++openAttempts;
            if (!available.contains(commPort)) {
                throw ControlError(CommError::InvalidPortNumber,
                                   QStringLiteral("There is no port."));
            }
        }
        isOpen = open;
    }
    bool portOpen() const override { return isOpen; }
    int inBufferCount() override {
        if (!lost.isEmpty()) {
            throw ControlError(CommError::PortLost, lost);
        }
        return isOpen ? static_cast<int>(incoming.size()) : 0;
    }
    std::string input() override { return std::exchange(incoming, {}); }
    void setOutput(std::string_view text) override { written.emplace_back(text); }

    std::vector<std::string> written; // one entry per output call
    std::string incoming;             // what the next input() returns
    QString lost;                     // why the device went away, once it has
    QStringList available = {QStringLiteral("3")};
    QStringList settingsLog;
    QString commPort;
    bool isOpen = false;
    int openAttempts = 0;
};

class FakeFileChooser : public FileChooser {
public:
    void setFilter(const QString &f) override { filter = f; }
    void showOpen() override {
        if (whileOpen) {
            whileOpen();
        }
        current = answers.empty() ? QString() : answers.front();
        if (!answers.empty()) {
            answers.pop_front();
        }
    }
    QString fileName() const override { return current; }
    bool cancelError() const override { return false; }

    std::deque<QString> answers;     // the paths the operator picks, in turn; none left = cancel
    std::function<void()> whileOpen; // what happens meanwhile
    QString filter;
    QString current;
};

struct ShownMessage {
    QString prompt;
    int style;
    QString title;
};

class FakeMessageBox : public MessageBox {
public:
    void show(const QString &prompt, int style, const QString &title) override {
        shown.push_back({prompt, style, title});
    }
    std::vector<ShownMessage> shown;
};

class FakeSleeper : public Sleeper {
public:
    void sleep(int milliseconds) override { slept.push_back(milliseconds); }
    std::vector<int> slept;
};

// A clock that moves only when told.
class FakeClock : public Clock {
public:
    std::int64_t now() override { return us; }
    std::int64_t us = 0;
};

// The window with stand-ins; each is kept at hand. `realPort` keeps the real serial control and
// the real clock.
struct FakeWindow {
    explicit FakeWindow(bool realPort = false) {
        Hosted hosted;
        if (!realPort) {
            hosted.port = std::unique_ptr<FakeSerialPort>(port = new FakeSerialPort);
            hosted.clock = std::unique_ptr<FakeClock>(clock = new FakeClock);
        }
        hosted.fileChooser = std::unique_ptr<FakeFileChooser>(chooser = new FakeFileChooser);
        hosted.messageBox = std::unique_ptr<FakeMessageBox>(messages = new FakeMessageBox);
        hosted.sleeper = std::unique_ptr<FakeSleeper>(sleeper = new FakeSleeper);
        window = std::make_unique<frmSerial>(std::move(hosted));
    }

    frmSerial *operator->() const { return window.get(); }

    std::unique_ptr<frmSerial> window;
    FakeSerialPort *port = nullptr;
    FakeFileChooser *chooser;
    FakeMessageBox *messages;
    FakeSleeper *sleeper;
    FakeClock *clock = nullptr; // none with the real port: the window keeps the real clock
};

// The window at a glance, to compare with one literal: status | answer box | bar | which of Open,
// the port box, Close, the two timers and the port are on | every message shown.
inline QString glance(const FakeWindow &w) {
    QStringList on;
    for (const auto &[yes, name] :
         {std::pair(w->BTNOpenCom->isEnabled(), "Open"), std::pair(w->txt[0]->isEnabled(), "box"),
          std::pair(w->BTNCloseCom->isEnabled(), "Close"),
          std::pair(w->Timer3->enabled(), "Timer3"), std::pair(w->TMRComm->enabled(), "TMRComm"),
          std::pair(w->MSComm1->portOpen(), "port")}) {
        if (yes) {
            on << name;
        }
    }
    QStringList seen = {w->Label2->text(), w->Text8->text(), w->vbalProgressBar1->text(),
                        on.join(' ')};
    for (const ShownMessage &m : w.messages->shown) {
        seen << m.prompt;
    }
    return seen.join('|');
}

} // namespace quenta::testing
