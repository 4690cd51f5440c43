#pragma once

// A shell command that runs once this program has ended, however it ended: by returning, by
// abort (qFatal), by SIGINT, SIGTERM or SIGKILL, or by a runner's time limit. A watcher runs it:
// a shell in a session of its own, so that a Ctrl-C on the terminal or a signal to the program's
// process group does not reach it, and no child of this program, so that a runner that kills the
// program's children along with it (as ctest does at its time limit) leaves it alone. The watcher
// reads a pipe whose only writer is this program; the kernel closes it when the program is gone,
// whatever ended it, and the read ends. Ending the object (as a normal end does) runs the command
// at once. The watcher's standard output goes nowhere; its standard error is the program's.

#include <QByteArray>

#include <cerrno>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quenta::testing {

class WhenProgramEnds {
public:
    explicit WhenProgramEnds(const QByteArray &command) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            return;
        }
        const QByteArray script = "read -r nothing; " + command;
        const char *const argv[] = {"/bin/sh", "-c", script.constData(), nullptr};
        const pid_t child = ::fork();
        if (child == 0) {
            // Between fork and exec, only calls that are safe in a copy of a threaded program.
            ::setsid();
            const pid_t watcher = ::fork();
            if (watcher == 0) {
                ::fcntl(ends[0], F_SETFD, 0);
                ::dup2(ends[0], STDIN_FILENO);
                ::dup2(::open("/dev/null", O_WRONLY), STDOUT_FILENO);
                ::close_range(3, ~0U, 0); // it keeps nothing else of the program open
                ::execv(argv[0], const_cast<char *const *>(argv));
                ::_exit(127);
            }
            ::_exit(watcher > 0 ? 0 : 1);
        }
        ::close(ends[0]);
        if (child > 0 && launched(child)) {
            writer_ = ends[1];
        } else {
            ::close(ends[1]);
        }
    }

    ~WhenProgramEnds() {
        if (writer_ >= 0) {
            ::close(writer_);
        }
    }

    WhenProgramEnds(const WhenProgramEnds &) = delete;
    WhenProgramEnds &operator=(const WhenProgramEnds &) = delete;

    // Whether the watcher waits (else the command will not run).
    bool watching() const { return writer_ >= 0; }

private:
    // Whether the child that starts the watcher did.
    static bool launched(pid_t child) {
        int status = 0;
        pid_t ended;
        do {
            ended = ::waitpid(child, &status, 0);
        } while (ended < 0 && errno == EINTR);
        return ended == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    int writer_ = -1;
};

} // namespace quenta::testing
