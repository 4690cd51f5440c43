#pragma once

#include <QTimer>

namespace quenta {

// A timer driven by its Enabled state: enabling a running timer leaves its countdown alone;
// disabling and enabling again restarts it.
class Timer : public QTimer {
    Q_OBJECT
public:
    Timer(int intervalMs, QObject *parent = nullptr) : QTimer(parent) {
        setInterval(intervalMs);
        setTimerType(Qt::PreciseTimer);
    }

    bool enabled() const { return isActive(); }
    void setEnabled(bool enabled) {
        if (enabled && !isActive()) {
            start();
        } else if (!enabled) {
            stop();
        }
    }
};

} // namespace quenta
