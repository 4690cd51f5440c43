#include "flash/BusScan.h"

#include "pure/Answers.h"
#include "pure/CommandLines.h"
#include "pure/ModbusFrame.h"

#include <algorithm>
#include <cmath>

namespace quenta::flash {
namespace {

constexpr int kFirstAddress = 1;
constexpr int kLastAddress = 127;
constexpr int kWindowAt115200Ms = 50;
// A probe frame and a version answer together, in bytes.
constexpr int kExchangeBytes = 32;

double wireMs(int bytes, int baud) {
    return bytes * 10 * 1000.0 / baud;
}

} // namespace

int scanWindowMs(int baud) {
    return kWindowAt115200Ms + static_cast<int>(std::ceil(wireMs(kExchangeBytes, baud) -
                                                          wireMs(kExchangeBytes, 115200)));
}

BusScan::BusScan(SerialPort &port, int baud, bool firstOnly, QDeadlineTimer deadline,
                 QObject *parent)
    : QObject(parent), port_(port), firstOnly_(firstOnly), deadline_(deadline) {
    AddressSet accepted;
    for (int address = kFirstAddress; address <= kLastAddress; ++address) {
        accepted.set(static_cast<std::size_t>(address));
    }
    reader_.accept(accepted);
    window_.setSingleShot(true);
    window_.setInterval(scanWindowMs(baud));
    connect(&window_, &QTimer::timeout, this, &BusScan::probeNext);
    connect(&port_, &SerialPort::received, this, &BusScan::onBytes);
    connect(&port_, &SerialPort::lost, this, &BusScan::end);
}

void BusScan::start() {
    probeNext();
}

void BusScan::probeNext() {
    if (next_ > kLastAddress) {
        if (!found_.empty() || deadline_.hasExpired()) {
            end();
            return;
        }
        next_ = kFirstAddress;
    }
    port_.write(modbusFrame(static_cast<std::uint8_t>(next_++), kInfoCommand));
    window_.start();
}

void BusScan::onBytes(const QByteArray &bytes) {
    for (Answer &answer :
         reader_.take(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())))
             .answers) {
        const bool known = std::any_of(found_.begin(), found_.end(), [&](const FoundBoard &b) {
            return b.address == *answer.address;
        });
        if (done_ || known || findKeyword(answer.text) != Keyword::Version) {
            continue;
        }
        found_.push_back({*answer.address, std::move(answer.text)});
        if (firstOnly_) {
            end();
        }
    }
}

void BusScan::end() {
    if (done_) {
        return;
    }
    done_ = true;
    window_.stop();
    std::sort(found_.begin(), found_.end(),
              [](const FoundBoard &a, const FoundBoard &b) { return a.address < b.address; });
    emit finished();
}

} // namespace quenta::flash
