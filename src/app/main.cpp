// quenta: the firmware loader's window.
#include "io/system/RuntimeFolder.h"
#include "widgets/window/frmSerial.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool hasDisplay() {
    return std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr ||
           std::getenv("QT_QPA_PLATFORM") != nullptr;
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

    quenta::provideRuntimeFolder();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quenta"));
    QApplication::setApplicationVersion(QStringLiteral(QUENTA_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("quenta"));

    quenta::frmSerial window;
    window.show();
    return QApplication::exec();
}
