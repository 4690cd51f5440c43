#include "window/frmSerial.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quenta"));
    QApplication::setApplicationVersion(QStringLiteral(QUENTA_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("quenta"));

    quenta::frmSerial window;
    window.show();
    return QApplication::exec();
}
