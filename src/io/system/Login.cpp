#include "io/system/Login.h"

#include <pwd.h>
#include <unistd.h>

namespace quenta {

QString loginName() {
    const passwd *entry = ::getpwuid(::getuid());
    return entry != nullptr ? QString::fromLocal8Bit(entry->pw_name) : QString::number(::getuid());
}

} // namespace quenta
