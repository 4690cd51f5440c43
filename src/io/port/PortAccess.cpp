#include "io/port/PortAccess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quenta {
namespace {

// Where serial port lock files are kept ("LCK.." and the device's name).
QStringList lockFolders() {
    return {QStringLiteral("/var/lock"),
            QStringLiteral("/run/lock"),
            QStringLiteral("/etc/locks"),
            QStringLiteral("/var/spool/locks"),
            QStringLiteral("/var/spool/uucp"),
            QStandardPaths::writableLocation(QStandardPaths::TempLocation)};
}

QString commandOf(pid_t pid) {
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromLocal8Bit(comm.readAll()).trimmed();
}

bool alive(pid_t pid) {
    return pid > 0 && QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid));
}

// The name of a device's lock file: "LCK.." and its path under /dev, each "/" made "_".
QString lockName(const QString &device) {
    QString name = device;
    if (name.startsWith(QStringLiteral("/dev/"))) {
        name.remove(0, 5);
    }
    return QStringLiteral("LCK..") + name.replace(QLatin1Char('/'), QLatin1Char('_'));
}

// The owner of a lock file: its first word is the process number, in the UUCP and in Qt's format.
std::optional<PortHolder> lockOwner(const QString &device) {
    const QString name = lockName(device);
    for (const QString &folder : lockFolders()) {
        QFile lock(QDir(folder).filePath(name));
        if (!lock.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QList<QByteArray> words = lock.read(256).simplified().split(' ');
        bool number = false;
        const auto pid = static_cast<pid_t>(words.value(0).toLong(&number));
        if (number && alive(pid)) {
            return PortHolder{pid, commandOf(pid)};
        }
    }
    return std::nullopt;
}

// A process, other than this one, with the device among its open files.
std::optional<PortHolder> openedBy(const QString &device) {
    const QString target = QFileInfo(device).canonicalFilePath();
    const QStringList processes =
        QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs);
    for (const QString &process : processes) {
        const auto pid = static_cast<pid_t>(process.toLong());
        if (pid == ::getpid()) {
            continue;
        }
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(process));
        for (const QString &fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
            if (QFileInfo(fds.filePath(fd)).symLinkTarget() == target) {
                return PortHolder{pid, commandOf(pid)};
            }
        }
    }
    return std::nullopt;
}

bool inGroup(gid_t group) {
    if (::getegid() == group) {
        return true;
    }
    std::vector<gid_t> groups(static_cast<std::size_t>(::getgroups(0, nullptr)));
    const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
    for (int i = 0; i < count; ++i) {
        if (groups[static_cast<std::size_t>(i)] == group) {
            return true;
        }
    }
    return false;
}

// Whether the device is a terminal (a serial port is one); one that cannot be opened counts as one,
// so that why it cannot be opened is looked into further.
bool isTerminal(const QByteArray &device) {
    const int fd = ::open(device.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return true;
    }
    const bool terminal = ::isatty(fd) != 0;
    ::close(fd);
    return terminal;
}

QString permissionReason(const QString &device) {
    struct stat info {};
    if (::stat(QFile::encodeName(device).constData(), &info) != 0) {
        return QStringLiteral("You may not use %1.").arg(device);
    }
    const group *owner = ::getgrgid(info.st_gid);
    const QString group =
        owner ? QString::fromLocal8Bit(owner->gr_name) : QString::number(info.st_gid);
    if ((info.st_mode & S_IRWXG) == (S_IRGRP | S_IWGRP) && !inGroup(info.st_gid)) {
        return QStringLiteral("You may not use %1: it belongs to the group %2, and you are not in "
                              "it. Join it with: sudo adduser $USER %2, then log in again.")
            .arg(device, group);
    }
    return QStringLiteral("You may not use %1 (group %2, mode %3).")
        .arg(device, group, QString::number(info.st_mode & 07777, 8));
}

QString holderText(const PortHolder &holder) {
    return holder.command.isEmpty()
               ? QStringLiteral("process %1").arg(holder.pid)
               : QStringLiteral("%1 (process %2)").arg(holder.command).arg(holder.pid);
}

} // namespace

QString resolvePortPath(const QString &path) {
    const QString resolved = QFileInfo(path).canonicalFilePath();
    return resolved.isEmpty() ? path : resolved;
}

std::optional<PortHolder> findPortHolder(const QString &device) {
    if (auto owner = lockOwner(device)) {
        return owner;
    }
    return openedBy(device);
}

PortProblem explainOpenFailure(const QString &device, const QString &systemText, bool lockFailed,
                               const QString &givenAs) {
    const QByteArray encoded = QFile::encodeName(device);
    if (!QFileInfo::exists(device)) {
        return {PortProblem::Kind::Missing, QStringLiteral("There is no %1.").arg(device)};
    }
    if (::access(encoded.constData(), R_OK | W_OK) != 0) {
        return {PortProblem::Kind::Permission, permissionReason(device)};
    }
    const QString name = givenAs.isEmpty() || givenAs == device
                             ? device
                             : QStringLiteral("%1 (%2)").arg(givenAs, device);
    if (!isTerminal(encoded)) {
        return {PortProblem::Kind::Other, QStringLiteral("%1 is not a serial port.").arg(name)};
    }
    if (const auto holder = findPortHolder(device)) {
        return {PortProblem::Kind::Busy,
                QStringLiteral("%1 is in use by %2.").arg(name, holderText(*holder))};
    }
    if (lockFailed) {
        return {PortProblem::Kind::Busy,
                QStringLiteral("%1 is in use by another program.").arg(name)};
    }
    return {PortProblem::Kind::Other, QStringLiteral("%1: %2").arg(name, systemText)};
}

} // namespace quenta
