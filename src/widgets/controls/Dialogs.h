#pragma once

#include <QString>

#include <cstdint>

class QWidget;

namespace quenta {

// Message box styles.
namespace MsgStyle {
inline constexpr int OkOnly = 0;
inline constexpr int Critical = 16;
} // namespace MsgStyle

// Modal message boxes showing the application's title unless they have one of their own.
class MessageBox {
public:
    virtual ~MessageBox() = default;
    // A message with an OK button only.
    virtual void show(const QString &prompt, int style = MsgStyle::OkOnly,
                      const QString &title = {}) = 0;
};

// A modal open-file chooser.
class FileChooser {
public:
    virtual ~FileChooser() = default;
    // Pairs of description and pattern separated by "|", e.g. "HEX files (*.hex)|*.hex".
    virtual void setFilter(const QString &filter) = 0;
    virtual void showOpen() = 0;
    // The chosen path; empty when nothing was chosen.
    virtual QString fileName() const = 0;
    // Whether closing the chooser without a choice raises an error (never, here).
    virtual bool cancelError() const = 0;
};

// A blocking wait.
class Sleeper {
public:
    virtual ~Sleeper() = default;
    virtual void sleep(int milliseconds) = 0;
};

// A steady clock: the moments that a job's answers are timed by, in microseconds.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::int64_t now() = 0;
};

class QtMessageBox : public MessageBox {
public:
    explicit QtMessageBox(QWidget *parent) : parent_(parent) {}
    void show(const QString &prompt, int style, const QString &title) override;

private:
    QWidget *parent_;
};

class QtFileChooser : public FileChooser {
public:
    explicit QtFileChooser(QWidget *parent) : parent_(parent) {}
    void setFilter(const QString &filter) override { filter_ = filter; }
    void showOpen() override;
    QString fileName() const override { return fileName_; }
    bool cancelError() const override { return false; }

private:
    QWidget *parent_;
    QString filter_;
    QString fileName_;
    QString lastFolder_;
};

class ThreadSleeper : public Sleeper {
public:
    void sleep(int milliseconds) override;
};

class SteadyClock : public Clock {
public:
    std::int64_t now() override;
};

// The filter as the file dialog wants it: "HEX files (*.hex)|*.hex" gives "HEX files (*.hex)".
QString toDialogFilter(const QString &filter);

} // namespace quenta
