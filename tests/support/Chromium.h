#pragma once

// A real headless Chromium for a test, driven through the DevTools protocol on a pair of pipes
// (--remote-debugging-pipe: the browser reads commands on its descriptor 3 and writes answers on
// 4, each a JSON text ended by a NUL byte). No network port, no driver, no download: Debian's
// chromium package, installed by scripts/setup.sh. It runs with a profile of its own in a
// temporary folder, without a sandbox (a root test cannot have one), and is killed with the test.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace quenta::testing {

class Chromium {
public:
    // A bound that keeps a broken browser from hanging a test; never a measure of speed.
    static constexpr int kGuardMs = 30000;

    // `extra`: further switches of the browser.
    explicit Chromium(const QStringList &extra = {}) {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("chromium"));
        if (program.isEmpty()) {
            missing_ = QStringLiteral("Chromium is not installed (scripts/setup.sh installs it)");
            return;
        }
        int commands[2];
        int answers[2];
        if (::pipe2(commands, O_CLOEXEC) != 0 || ::pipe2(answers, O_CLOEXEC) != 0) {
            problem_ = QStringLiteral("no pipes for the browser");
            return;
        }
        // Above the descriptors the child's 3 and 4 are made from, so that neither is overwritten
        // by the other before it is moved.
        const int theirCommands = ::fcntl(commands[0], F_DUPFD_CLOEXEC, 100);
        const int theirAnswers = ::fcntl(answers[1], F_DUPFD_CLOEXEC, 100);
        ::close(commands[0]);
        ::close(answers[1]);
        write_ = commands[1];
        read_ = answers[0];
        browser_.setChildProcessModifier([theirCommands, theirAnswers] {
            ::setsid(); // a group of its own, with the renderers it starts
            ::dup2(theirCommands, 3);
            ::dup2(theirAnswers, 4);
        });
        browser_.setStandardErrorFile(profile_.filePath(QStringLiteral("browser.log")));
        const QStringList switches =
            QStringLiteral("--headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
                           "--disable-background-networking --disable-component-update "
                           "--disable-sync --disable-dev-shm-usage --hide-scrollbars "
                           "--remote-debugging-pipe")
                .split(u' ');
        browser_.start(program, switches + extra +
                                    QStringList{"--user-data-dir=" + profile_.filePath("profile"),
                                                "about:blank"});
        ::close(theirCommands);
        ::close(theirAnswers);
        if (!browser_.waitForStarted(kGuardMs)) {
            problem_ = QStringLiteral("Chromium did not start: ") + browser_.errorString();
        }
    }

    // Closes the browser, which ends its renderers and leaves its profile whole; a browser that
    // does not close is killed with its whole group.
    ~Chromium() {
        if (browser_.state() != QProcess::NotRunning) {
            call("Browser.close");
            if (!browser_.waitForFinished(kGuardMs)) {
                ::kill(-static_cast<pid_t>(browser_.processId()), SIGKILL);
                browser_.waitForFinished(kGuardMs);
            }
        }
        for (const int fd : {read_, write_}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }

    Chromium(const Chromium &) = delete;
    Chromium &operator=(const Chromium &) = delete;

    // Why there is no browser because Chromium is not installed; empty when it is.
    const QString &missing() const { return missing_; }
    // Why the browser did not start or stopped answering although it is installed.
    const QString &problem() const { return problem_; }
    bool running() const { return missing_.isEmpty() && problem_.isEmpty(); }

    // Sends a command (to a page when `session` is given) and waits for its answer: the result,
    // or an empty object (and problem() says why).
    QJsonObject call(const QString &method, const QJsonObject &params = {},
                     const QString &session = {}) {
        if (!running()) {
            return {};
        }
        const int id = ++lastId_;
        QJsonObject message{{"id", id}, {"method", method}, {"params", params}};
        if (!session.isEmpty()) {
            message["sessionId"] = session;
        }
        const QByteArray text = QJsonDocument(message).toJson(QJsonDocument::Compact) + '\0';
        if (::write(write_, text.constData(), static_cast<size_t>(text.size())) != text.size()) {
            problem_ = QStringLiteral("the browser took no command");
            return {};
        }
        const QDeadlineTimer deadline(kGuardMs);
        while (!deadline.hasExpired()) {
            const qsizetype end = buffer_.indexOf('\0');
            if (end < 0) {
                pollfd pending{read_, POLLIN, 0};
                if (::poll(&pending, 1, 200) > 0) {
                    char chunk[65536];
                    const ssize_t got = ::read(read_, chunk, sizeof chunk);
                    if (got <= 0) {
                        problem_ = QStringLiteral("the browser went away");
                        return {};
                    }
                    buffer_.append(chunk, got);
                }
                continue;
            }
            const QJsonObject answer = QJsonDocument::fromJson(buffer_.left(end)).object();
            buffer_.remove(0, end + 1);
            if (answer["id"].toInt() != id) {
                continue; // an event, or the answer to an earlier command
            }
            if (answer.contains("error")) {
                problem_ = method + QStringLiteral(": ") +
                           QString::fromUtf8(QJsonDocument(answer["error"].toObject()).toJson());
                return {};
            }
            return answer["result"].toObject();
        }
        problem_ = method + QStringLiteral(": no answer");
        return {};
    }

    // A new tab of the given size that has `before` run ahead of every page's own scripts: its
    // session.
    QString newPage(int width, int height, bool mobile, const QString &before) {
        const QString target =
            call("Target.createTarget", {{"url", "about:blank"}})["targetId"].toString();
        const QString session =
            call("Target.attachToTarget", {{"targetId", target}, {"flatten", true}})["sessionId"]
                .toString();
        call("Emulation.setDeviceMetricsOverride",
             {{"width", width}, {"height", height}, {"deviceScaleFactor", 1}, {"mobile", mobile}},
             session);
        call("Page.enable", {}, session);
        call("Page.addScriptToEvaluateOnNewDocument", {{"source", before}}, session);
        return session;
    }

    // The value of a JavaScript expression in the page (a promise is waited for); undefined when
    // it throws.
    QJsonValue evaluate(const QString &session, const QString &expression) {
        return call("Runtime.evaluate",
                    {{"expression", expression}, {"returnByValue", true}, {"awaitPromise", true}},
                    session)["result"]
            .toObject()["value"];
    }

    // The page as it shows now, as PNG.
    QByteArray screenshot(const QString &session) {
        return QByteArray::fromBase64(
            call("Page.captureScreenshot", {{"format", "png"}}, session)["data"]
                .toString()
                .toLatin1());
    }

private:
    QTemporaryDir profile_;
    QProcess browser_;
    QString missing_;
    QString problem_;
    int read_ = -1;
    int write_ = -1;
    int lastId_ = 0;
    QByteArray buffer_;
};

} // namespace quenta::testing

// In a Qt Test function: skips it where Chromium is not installed (CI installs it), and fails it
// where the browser did not start.
#define QUENTA_REQUIRE_CHROMIUM(browser)                                                           \
    do {                                                                                           \
        if (!(browser).missing().isEmpty()) {                                                      \
            QSKIP(qPrintable((browser).missing()));                                                \
        }                                                                                          \
        QVERIFY2((browser).running(), qPrintable((browser).problem()));                            \
    } while (false)
