#pragma once

#include "flash/FlashOptions.h"
#include "flash/PortRun.h"
#include "flash/ProgressDisplay.h"
#include "flash/Report.h"

#include <QObject>

#include <memory>
#include <string>
#include <vector>

namespace quenta::flash {

// A whole run over its ports: one PortRun per port, all at once in one event loop, and the report
// once the last of them has ended.
class FlashRun : public QObject {
    Q_OBJECT
public:
    FlashRun(Settings settings, std::vector<std::string> records, ProgressDisplay &progress,
             QObject *parent = nullptr);

    void start();
    RunReport report() const;

signals:
    void finished();

private:
    void portDone();

    Settings settings_;
    std::vector<std::string> records_;
    std::vector<std::unique_ptr<PortRun>> ports_;
    int running_ = 0;
};

} // namespace quenta::flash
