// quenta: the firmware loader's window.
#include "widgets/window/frmSerial.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool hasDisplay() {
    return std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr ||
           std::getenv("QT_QPA_PLATFORM") != nullptr;
}

// The folder Qt takes when XDG_RUNTIME_DIR is unset: runtime-USER in the temporary folder.
std::string defaultRuntimeFolder() {
    const char *temporary = std::getenv("TMPDIR");
    std::string folder = temporary != nullptr && *temporary != '\0' ? temporary : "/tmp";
    const passwd *user = getpwuid(getuid());
    return folder + "/runtime-" + (user != nullptr ? user->pw_name : std::to_string(getuid()));
}

// Without XDG_RUNTIME_DIR (root on a console, a login over ssh) Qt warns at every start and then
// takes the folder above. Taking it first, made private to this user, keeps the start quiet; a
// folder that is not this user's own is left alone, for Qt to report.
void provideRuntimeFolder() {
    const char *set = std::getenv("XDG_RUNTIME_DIR");
    if (set != nullptr && *set != '\0') {
        return;
    }
    const std::string folder = defaultRuntimeFolder();
    ::mkdir(folder.c_str(), 0700);
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid() ||
        ::chmod(folder.c_str(), 0700) != 0) {
        return;
    }
    ::setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
}

} // namespace

int main(int argc, char *argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::puts("Usage: quenta  (opens the firmware loader's window; quenta-flash flashes "
                      "from the command line)");
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("quenta " QUENTA_VERSION);
            return 0;
        }
    }
    if (!hasDisplay()) {
        std::fputs("quenta: there is no display to open the window on (DISPLAY is not set). Run "
                   "it on a desktop, or under a virtual display: xvfb-run -a quenta\n",
                   stderr);
        return 1;
    }

    provideRuntimeFolder();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quenta"));
    QApplication::setApplicationVersion(QStringLiteral(QUENTA_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("quenta"));

    quenta::frmSerial window;
    window.show();
    return QApplication::exec();
}
