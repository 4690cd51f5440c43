#include "widgets/controls/Dialogs.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>
#include <QStringList>
#include <QThread>

#include <chrono>

namespace quenta {

void QtMessageBox::show(const QString &prompt, int style, const QString &title) {
    const QMessageBox::Icon icon =
        (style & MsgStyle::Critical) != 0 ? QMessageBox::Critical : QMessageBox::NoIcon;
    QMessageBox box(icon, title.isEmpty() ? QCoreApplication::applicationName() : title, prompt,
                    QMessageBox::Ok, parent_);
    box.exec();
}

QString toDialogFilter(const QString &filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString &description = parts[i];
        const QString &pattern = parts[i + 1];
        filters << (description.contains(QLatin1Char('(') + pattern + QLatin1Char(')'))
                        ? description
                        : QStringLiteral("%1 (%2)").arg(description, pattern));
    }
    return filters.join(QStringLiteral(";;"));
}

namespace {

// Qt's file dialog keeps its history and last folder in the user's QtProject.conf, read when it
// opens and written when it closes. This program keeps no settings: the user's settings of Qt
// are looked for in a folder that cannot be, so the dialog finds none and makes none. The
// chooser keeps the last folder itself.
void keepNoDialogHistory() {
    QSettings::setPath(QSettings::defaultFormat(), QSettings::UserScope,
                       QStringLiteral("/dev/null/quenta-keeps-no-settings"));
}

} // namespace

void QtFileChooser::showOpen() {
    keepNoDialogHistory();
    fileName_ =
        QFileDialog::getOpenFileName(parent_, QString(), lastFolder_, toDialogFilter(filter_));
    if (!fileName_.isEmpty()) {
        lastFolder_ = QFileInfo(fileName_).absolutePath();
    }
}

void ThreadSleeper::sleep(int milliseconds) {
    QThread::msleep(static_cast<unsigned long>(milliseconds));
}

std::int64_t SteadyClock::now() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace quenta
