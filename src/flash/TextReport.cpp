#include "flash/TextReport.h"

#include <QRegularExpression>

namespace quenta::flash {
namespace {

QString boardName(const BoardReport &board) {
    return board.address ? QStringLiteral("%1 address %2").arg(board.port).arg(*board.address)
                         : board.port;
}

QString boardLine(const QString &command, const BoardReport &board) {
    const std::string_view result = resultName(board.result);
    QString line = QStringLiteral("%1: %2: %3")
                       .arg(boardName(board), QString::fromLatin1(result.data(), result.size()),
                            board.message);
    if ((command == QLatin1String("flash") || command == QLatin1String("verify")) &&
        board.lines > 0) {
        line += QStringLiteral(" (%1 lines, %2 commands, %3 retries, %4 resumed, %5 s)")
                    .arg(board.lines)
                    .arg(board.commands)
                    .arg(board.retries)
                    .arg(board.resumed)
                    .arg(board.seconds, 0, 'f', 1);
    }
    return line + QLatin1Char('\n');
}

QString portLine(const ListedPort &port) {
    QString line = port.path;
    for (const QString &name : port.byId) {
        line += QStringLiteral("\n    ") + name;
    }
    if (port.vendorId && port.productId) {
        line += QStringLiteral("\n    USB %1:%2")
                    .arg(*port.vendorId, 4, 16, QLatin1Char('0'))
                    .arg(*port.productId, 4, 16, QLatin1Char('0'));
    }
    const QString maker = QStringList{port.maker, port.description, port.serialNumber}
                              .filter(QRegularExpression(QStringLiteral("\\S")))
                              .join(QStringLiteral(", "));
    if (!maker.isEmpty()) {
        line += QStringLiteral("\n    ") + maker;
    }
    return line + QLatin1Char('\n');
}

} // namespace

QString textReport(const RunReport &report) {
    QString text;
    for (const CheckEntry &check : report.checks) {
        text += QStringLiteral("%1 %2 %3: %4\n")
                    .arg(check.ok ? QStringLiteral("ok  ") : QStringLiteral("FAIL"), check.port,
                         check.name, check.message);
    }
    for (const BoardReport &board : report.boards) {
        text += boardLine(report.command, board);
    }
    for (const ListedPort &port : report.ports) {
        text += portLine(port);
    }
    if (report.command == QLatin1String("ports") && report.ports.empty()) {
        text += QStringLiteral("No serial port found.\n");
    }
    return text;
}

} // namespace quenta::flash
