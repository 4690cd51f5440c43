#include "io/system/FileIdentity.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

namespace quenta {

std::optional<FileIdentity> fileIdentity(const QString &path, QString *why) {
    struct stat file {};
    if (::stat(QFile::encodeName(path).constData(), &file) != 0) {
        if (why != nullptr) {
            *why = QString::fromLocal8Bit(std::strerror(errno));
        }
        return std::nullopt;
    }
    return FileIdentity{static_cast<std::uint64_t>(file.st_dev),
                        static_cast<std::uint64_t>(file.st_ino)};
}

} // namespace quenta
