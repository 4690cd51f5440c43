#include "io/system/RuntimeFolder.h"

#include "io/system/Login.h"

#include <QFile>

#include <cstdlib>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace quenta {

void provideRuntimeFolder() {
    const char *set = std::getenv("XDG_RUNTIME_DIR");
    if (set != nullptr && *set != '\0') {
        return;
    }
    const char *temporary = std::getenv("TMPDIR");
    const std::string folder =
        std::string(temporary != nullptr && *temporary != '\0' ? temporary : "/tmp") + "/runtime-" +
        QFile::encodeName(loginName()).toStdString();
    ::mkdir(folder.c_str(), 0700);
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid() ||
        ::chmod(folder.c_str(), 0700) != 0) {
        return;
    }
    ::setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
}

} // namespace quenta
