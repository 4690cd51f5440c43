#include "flash/frame/LinkOptions.h"

#include "io/port/PortAccess.h"
#include "io/port/PortPath.h"

#include <algorithm>

namespace quenta::flash {
namespace {

std::optional<int> wholeNumber(const QString &text, int lowest, int highest) {
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok && value >= lowest && value <= highest ? std::optional<int>(value) : std::nullopt;
}

std::optional<AddressChoice> addressChoice(const QString &text) {
    if (text == QLatin1String("all")) {
        return AddressChoice{AddressChoice::Kind::Range, {}, 1, 127};
    }
    if (const qsizetype dash = text.indexOf(QLatin1Char('-')); dash > 0) {
        const auto from = wholeNumber(text.left(dash).trimmed(), 1, 255);
        const auto to = wholeNumber(text.mid(dash + 1).trimmed(), 1, 255);
        if (!from || !to || *to < *from) {
            return std::nullopt;
        }
        return AddressChoice{AddressChoice::Kind::Range,
                             {},
                             static_cast<std::uint8_t>(*from),
                             static_cast<std::uint8_t>(*to)};
    }
    AddressChoice choice{AddressChoice::Kind::List, {}};
    for (const QString &item : text.split(QLatin1Char(','))) {
        const auto address = wholeNumber(item.trimmed(), 1, 255);
        if (!address) {
            return std::nullopt;
        }
        const auto byte = static_cast<std::uint8_t>(*address);
        if (std::find(choice.list.begin(), choice.list.end(), byte) != choice.list.end()) {
            return std::nullopt;
        }
        choice.list.push_back(byte);
    }
    return choice;
}

} // namespace

QString readPorts(const OptionValue &value, const GivenOptions &, Settings &s) {
    for (const QString &text : value.values) {
        // usb:SERIAL stands as it is: the port is found by its serial number at open time.
        const auto path = text == QLatin1String("usb:") ? std::nullopt : portPathFor(text);
        if (!path) {
            return QStringLiteral(
                       "--port \"%1\" is no port: give COMn (n from 1), a device path or "
                       "usb:SERIAL")
                .arg(text);
        }
        if (s.ports.contains(*path)) {
            return QStringLiteral("the port %1 is given twice").arg(*path);
        }
        const QString device = resolvePortPath(*path);
        for (const QString &earlier : s.ports) {
            if (resolvePortPath(earlier) == device) {
                return QStringLiteral("%1 and %2 are one device, %3: give it once")
                    .arg(earlier, *path, device);
            }
        }
        s.ports.append(*path);
    }
    return {};
}

QString readBaud(const OptionValue &value, const GivenOptions &, Settings &s) {
    const int baud = value.text().toInt();
    if (baud != 9600 && baud != 19200 && baud != 115200) {
        return QStringLiteral("--baud must be 9600, 19200 or 115200");
    }
    s.baud = baud;
    return {};
}

QString readAddresses(const OptionValue &value, const GivenOptions &, Settings &s) {
    if (!value.given) {
        return {};
    }
    const auto choice = addressChoice(value.text());
    if (!choice) {
        return QStringLiteral("--address must be N, a list N,M,... of different addresses, a "
                              "range N-M (each 1..255) or \"all\"");
    }
    s.addresses = *choice;
    return {};
}

QString readTimeout(const OptionValue &value, const GivenOptions &, Settings &s) {
    const auto ms = wholeNumber(value.text(), 1, 3600000);
    if (!ms) {
        return QStringLiteral("--timeout must be a whole number of milliseconds, 1 or more");
    }
    s.timeoutMs = *ms;
    return {};
}

QString readRetries(const OptionValue &value, const GivenOptions &, Settings &s) {
    const auto retries = wholeNumber(value.text(), 0, 1000);
    if (!retries) {
        return QStringLiteral("--retries must be a whole number from 0 to 1000");
    }
    s.retries = *retries;
    return {};
}

QString readVerifyPasses(const OptionValue &value, const GivenOptions &, Settings &s) {
    const auto passes = wholeNumber(value.text(), 1, 10);
    if (!passes) {
        return QStringLiteral("--verify-passes must be a whole number from 1 to 10");
    }
    s.verifyPasses = *passes;
    return {};
}

QString readWait(const OptionValue &value, const GivenOptions &, Settings &s) {
    bool ok = false;
    const double seconds = value.text().toDouble(&ok);
    if (!ok || !(seconds >= 0.0 && seconds <= 86400.0)) {
        return QStringLiteral("--wait must be a number of seconds, 0 or more");
    }
    s.waitMs = static_cast<int>(seconds * 1000.0);
    return {};
}

} // namespace quenta::flash
