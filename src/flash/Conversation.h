#pragma once

#include "flash/AnswerReader.h"
#include "flash/FlashPort.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <optional>
#include <string>

namespace quenta::flash {

// How long to wait for an answer, and how often to send a command again when none comes.
struct Patience {
    int timeoutMs = 1000;
    int retries = 2;
};

// The bootloader is probed with the info command this often until it answers.
inline constexpr int kProbeIntervalMs = 200;

// One command at a time with one board on a port: the command goes out, the first answer that
// fits is handed on the moment it is complete, and a command whose answer does not come in time
// goes out again. Only an answer that holds a keyword counts, and one holding "VER=" answers the
// probe only: a late answer to an earlier probe is never taken for the answer to a line.
class Conversation : public QObject {
    Q_OBJECT
public:
    Conversation(FlashPort &port, std::optional<std::uint8_t> address, Patience patience,
                 QObject *parent = nullptr);

    // Sends the command; re-sends it up to `retries` times, each after `timeoutMs` in silence.
    void ask(std::string command);
    // Sends the info command every kProbeIntervalMs until an answer holds "VER=", or gives up
    // once the deadline has passed.
    void probe(QDeadlineTimer deadline);
    // Waits for nothing more; what arrives from now on is dropped.
    void stop();

    int commands() const { return commands_; } // commands sent, probes not counted
    int retries() const { return retries_; }   // re-sends after a missing answer

signals:
    void answered(const std::string &text);
    void silent();

private:
    void send();
    void onBytes(const QByteArray &bytes);
    void onTimeout();

    FlashPort &port_;
    std::optional<std::uint8_t> address_;
    Patience patience_;
    AnswerReader reader_;
    QTimer timer_;
    QDeadlineTimer probeDeadline_;
    std::string command_;
    bool probing_ = false;
    bool waiting_ = false;
    int tries_ = 0;
    int commands_ = 0;
    int retries_ = 0;
};

} // namespace quenta::flash
