#pragma once

#include "controls/ControlError.h"
#include "window/frmSerial.h"

#include <QStringList>

#include <deque>
#include <string>
#include <vector>

namespace quenta::testing {

// A serial port that records what the window does with it and answers from a script.
class FakeSerialPort : public SerialPortControl {
public:
    void setSettings(const QString &settings) override { settingsLog.push_back(settings); }
    void setCommPort(std::int16_t number) override {
        if (number < 1) {
            throw ControlError(CommError::InvalidPortNumber, QStringLiteral("Invalid port number"));
        }
        commPort = QString::number(number);
    }
    void setCommPort(const QString &devicePath) override { commPort = devicePath; }
    void setPortOpen(bool open) override {
        if (open) {
            ++openAttempts;
            if (!available.contains(commPort)) {
                throw ControlError(CommError::InvalidPortNumber,
                                   QStringLiteral("Invalid port number"));
            }
        }
        isOpen = open;
    }
    bool portOpen() const override { return isOpen; }
    int inBufferCount() override { return isOpen ? static_cast<int>(incoming.size()) : 0; }
    std::string input() override {
        std::string all;
        all.swap(incoming);
        return all;
    }
    void setOutput(std::string_view text) override { written.emplace_back(text); }

    // Everything written, one entry per output call.
    std::vector<std::string> written;
    // What the next input() returns.
    std::string incoming;
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
        ++shown;
        current = answers.empty() ? QString() : answers.front();
        if (!answers.empty()) {
            answers.pop_front();
        }
    }
    QString fileName() const override { return current; }
    bool cancelError() const override { return false; }

    std::deque<QString> answers; // the paths the operator picks, in turn; empty = cancel
    QString filter;
    QString current;
    int shown = 0;
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

// A window wired to fakes, with the fakes kept at hand.
struct FakeWindow {
    FakeWindow() {
        Hosted hosted;
        auto p = std::make_unique<FakeSerialPort>();
        auto f = std::make_unique<FakeFileChooser>();
        auto m = std::make_unique<FakeMessageBox>();
        auto s = std::make_unique<FakeSleeper>();
        port = p.get();
        chooser = f.get();
        messages = m.get();
        sleeper = s.get();
        hosted.port = std::move(p);
        hosted.fileChooser = std::move(f);
        hosted.messageBox = std::move(m);
        hosted.sleeper = std::move(s);
        window = std::make_unique<frmSerial>(std::move(hosted));
    }

    frmSerial *operator->() const { return window.get(); }

    std::unique_ptr<frmSerial> window;
    FakeSerialPort *port;
    FakeFileChooser *chooser;
    FakeMessageBox *messages;
    FakeSleeper *sleeper;
};

} // namespace quenta::testing
