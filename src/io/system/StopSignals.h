#pragma once

#include <QObject>

#include <functional>

namespace quenta {

// SIGINT, SIGTERM and SIGHUP become a call of `stop` with the signal's number from the event loop
// of `owner`'s thread. A second signal ends the program at once, should it hang on its way out.
void onStopSignals(QObject *owner, std::function<void(int)> stop);

} // namespace quenta
