#include "io/port/PortPath.h"

#include <QRegularExpression>

namespace quenta {

std::optional<QString> portPathFor(const QString &name) {
    static const QRegularExpression com(QStringLiteral("^COM(\\d+)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = com.match(name);
    if (!match.hasMatch()) {
        return name.isEmpty() ? std::nullopt : std::optional<QString>(name);
    }
    const int number = match.captured(1).toInt();
    if (number < 1) {
        return std::nullopt;
    }
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
}

} // namespace quenta
