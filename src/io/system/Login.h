#pragma once

#include <QString>

namespace quenta {

// The name of the login the program runs under; its number when it has no name.
QString loginName();

} // namespace quenta
