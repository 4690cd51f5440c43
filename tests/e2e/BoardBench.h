#pragma once

#include "FakeHosted.h"
#include "controls/VbColor.h"
#include "simboard/PtyBoard.h"
#include "transfer/CommandLines.h"
#include "transfer/HexReading.h"

#include <QFile>
#include <QtTest>

#include <memory>
#include <string>
#include <vector>

namespace quenta::testing {

// The real window with its real serial port control and timers, talking to a simulated board over
// a pseudo-terminal. Only the file chooser and the message box are stand-ins, so that no modal
// dialog ever opens.
struct BoardBench {
    explicit BoardBench(simboard::Options options = {}, std::string link = {})
        : board(std::move(options), std::move(link)) {
        board.start();
        Hosted hosted;
        auto f = std::make_unique<FakeFileChooser>();
        auto m = std::make_unique<FakeMessageBox>();
        chooser = f.get();
        messages = m.get();
        hosted.fileChooser = std::move(f);
        hosted.messageBox = std::move(m);
        window = std::make_unique<frmSerial>(std::move(hosted));
        window->txt[0]->setText(QString::fromStdString(board.path()));
    }
    ~BoardBench() {
        window->close();
        window.reset();
    }

    frmSerial *operator->() const { return window.get(); }

    // The board's commands after the probes that found it.
    std::vector<std::string> jobCommands() const {
        std::vector<std::string> all = board.commands();
        auto first = all.begin();
        while (first != all.end() && *first == kInfoCommand) {
            ++first;
        }
        return {first, all.end()};
    }

    simboard::PtyBoard board;
    std::unique_ptr<frmSerial> window;
    FakeFileChooser *chooser;
    FakeMessageBox *messages;
};

// The lines of a firmware file as the device must receive them: download form, then verify form.
inline std::vector<std::string> expectedJob(const QString &path, bool download = true) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qFatal("cannot read %s", qPrintable(path));
    }
    const std::string content = file.readAll().toStdString();
    std::vector<std::string> entries;
    for (HexItemReader reader(content); !reader.atEnd();) {
        entries.push_back(reader.next());
    }
    std::vector<std::string> job;
    if (download) {
        for (const auto &e : entries) {
            job.push_back(downloadLine(e));
        }
    }
    for (const auto &e : entries) {
        job.push_back(verifyLine(e));
    }
    return job;
}

inline QString sourcePath(const char *relative) {
    return QStringLiteral(QUENTA_SOURCE_DIR "/") + QString::fromLatin1(relative);
}

// Downloads and verifies the sample firmware on a board that has answered; the job must end in
// "END" in green with the board having received exactly the sample's lines, first in download
// form, then in verify form.
inline void downloadAndVerifySample(BoardBench &b) {
    const QString firmware = sourcePath("samples/blink.hex");
    b.chooser->answers.push_back(firmware);
    b->Command3->click();
    QTRY_COMPARE_WITH_TIMEOUT(b->vbalProgressBar1->text(), QStringLiteral("END"), 30000);
    QCOMPARE(b->vbalProgressBar1->barColor(), VbColor::Green);
    QCOMPARE(b->vbalProgressBar1->fraction(), 1.0);
    QCOMPARE(b.jobCommands(), expectedJob(firmware));
}

} // namespace quenta::testing
