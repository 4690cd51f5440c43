#include "flash/frame/Report.h"

#include "flash/frame/Recipe.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace quenta::flash {

int boardExit(const BoardReport &board, int signal) {
    if (board.result != JobResult::Interrupted) {
        return exitCode(board.result);
    }
    return signal != 0 ? 128 + signal : kNotRecorded;
}

int RunReport::exit() const {
    if (signal != 0) {
        return 128 + signal;
    }
    if (!usageError.isEmpty()) {
        return exitCode(JobResult::BadFile);
    }
    std::vector<int> codes;
    for (const BoardReport &board : boards) {
        codes.push_back(boardExit(board, signal));
    }
    if (!problems.isEmpty()) {
        codes.push_back(kNotRecorded);
    }
    codes.push_back(recipeExit);
    return mergeExitCodes(codes);
}

namespace {

template <typename T> QJsonValue optionalNumber(const std::optional<T> &value) {
    return value ? QJsonValue(static_cast<qint64>(*value)) : QJsonValue(QJsonValue::Null);
}

QJsonValue optionalText(const QString &text) {
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

} // namespace

QJsonObject boardJson(const BoardReport &board) {
    const std::string_view result = resultName(board.result);
    return {
        {QStringLiteral("port"), board.port},
        {QStringLiteral("address"), optionalNumber(board.address)},
        {QStringLiteral("version"), board.version},
        {QStringLiteral("result"), QString::fromLatin1(result.data(), result.size())},
        {QStringLiteral("lines"), board.lines},
        {QStringLiteral("commands"), board.commands},
        {QStringLiteral("retries"), board.retries},
        {QStringLiteral("resumed"), board.resumed},
        {QStringLiteral("verify_passes"), board.verifyPasses},
        {QStringLiteral("seconds"), std::round(board.seconds * 1000.0) / 1000.0},
        {QStringLiteral("message"), board.message},
        {QStringLiteral("journal"), optionalNumber(board.journal)},
        {QStringLiteral("serial"), optionalNumber(board.serial)},
        {QStringLiteral("firmware_sha256"), optionalText(board.firmwareSha256)},
    };
}

namespace {

QJsonObject checkJson(const CheckEntry &check) {
    return {{QStringLiteral("port"), check.port},
            {QStringLiteral("name"), check.name},
            {QStringLiteral("ok"), check.ok},
            {QStringLiteral("message"), check.message}};
}

QJsonObject portJson(const ListedPort &port) {
    return {{QStringLiteral("path"), port.path},
            {QStringLiteral("by-id"), QJsonArray::fromStringList(port.byId)},
            {QStringLiteral("vid"), optionalNumber(port.vendorId)},
            {QStringLiteral("pid"), optionalNumber(port.productId)},
            {QStringLiteral("maker"), port.maker},
            {QStringLiteral("description"), port.description},
            {QStringLiteral("serial"), port.serialNumber}};
}

template <typename Entry, typename Convert>
QJsonArray arrayOf(const std::vector<Entry> &entries, Convert convert) {
    QJsonArray array;
    for (const Entry &entry : entries) {
        array.append(convert(entry));
    }
    return array;
}

} // namespace

namespace {

// Each key the recipe pins, with its value as the recipe writes it, in the recipe's order.
std::vector<std::pair<QString, QString>> pinsOf(const Recipe &recipe) {
    std::vector<std::pair<QString, QString>> pins{
        {QStringLiteral("name"), recipe.name},
        {QStringLiteral("firmware.file"), recipe.firmware},
        {QStringLiteral("firmware.sha256"), recipe.firmwareSha256}};
    if (!recipe.boardVersion.isEmpty()) {
        pins.emplace_back(QStringLiteral("board.version"), recipe.boardVersion);
    }
    for (const RecipePin &pin : recipe.pins) {
        pins.emplace_back(pin.key, pin.shown);
    }
    return pins;
}

QJsonObject recipeJson(const Recipe &recipe) {
    QJsonObject pins;
    for (const auto &[key, value] : pinsOf(recipe)) {
        pins.insert(key, value);
    }
    return {{QStringLiteral("file"), recipe.path},
            {QStringLiteral("name"), recipe.name},
            {QStringLiteral("sha256"), recipe.sha256},
            {QStringLiteral("pins"), pins}};
}

} // namespace

QJsonObject reportJson(const RunReport &report) {
    QJsonObject object{
        {QStringLiteral("command"),
         report.command.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(report.command)},
        {QStringLiteral("ok"), report.exit() == 0},
        {QStringLiteral("exit"), report.exit()},
        {QStringLiteral("boards"), arrayOf(report.boards, boardJson)},
    };
    if (!report.journal.isEmpty()) {
        object.insert(QStringLiteral("journal"), report.journal);
    }
    if (report.recipe) {
        object.insert(QStringLiteral("recipe"), recipeJson(*report.recipe));
    }
    if (report.command == QLatin1String("check")) {
        object.insert(QStringLiteral("checks"), arrayOf(report.checks, checkJson));
    }
    if (report.command == QLatin1String("ports")) {
        object.insert(QStringLiteral("ports"), arrayOf(report.ports, portJson));
    }
    QStringList messages = report.problems;
    if (!report.usageError.isEmpty()) {
        messages.prepend(report.usageError);
    }
    if (!messages.isEmpty()) {
        object.insert(QStringLiteral("message"), messages.join(QStringLiteral("; ")));
    }
    return object;
}

QByteArray jsonReport(const RunReport &report) {
    return QJsonDocument(reportJson(report)).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray eventLine(const char *name, const QJsonObject &object) {
    const QByteArray members = QJsonDocument(object).toJson(QJsonDocument::Compact).mid(1);
    return QByteArrayLiteral("{\"event\":\"") + name + '"' +
           (object.isEmpty() ? QByteArray() : QByteArrayLiteral(",")) + members + '\n';
}

namespace {

QString boardName(const BoardReport &board) {
    return board.address
               ? QStringLiteral("%1 address %2").arg(board.port, QString::number(*board.address))
               : board.port;
}

QString boardLine(const QString &command, const BoardReport &board) {
    const std::string_view result = resultName(board.result);
    QString line = QStringLiteral("%1: %2: %3")
                       .arg(boardName(board), QString::fromLatin1(result.data(), result.size()),
                            board.message);
    if (board.serial) {
        line += QStringLiteral("; serial %1").arg(*board.serial);
    }
    if ((command == QLatin1String("flash") || command == QLatin1String("verify")) &&
        board.commands > 0) {
        line += QStringLiteral(" (%1 lines, %2 commands, %3 retries, %4 resumed, %5 verify "
                               "passes, %6 s)")
                    .arg(board.lines)
                    .arg(board.commands)
                    .arg(board.retries)
                    .arg(board.resumed)
                    .arg(board.verifyPasses)
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
    if (report.recipe) {
        text += QStringLiteral("recipe: %1 (%2)\n").arg(report.recipe->name, report.recipe->path);
        if (report.command == QLatin1String("check")) {
            for (const auto &[key, value] : pinsOf(*report.recipe)) {
                text += QStringLiteral("  %1 = %2\n").arg(key, value);
            }
        }
    }
    if (!report.journal.isEmpty()) {
        text += QStringLiteral("journal: %1\n").arg(report.journal);
    }
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

namespace {

QByteArray reportBytes(const RunReport &report, ReportForm form) {
    switch (form) {
    case ReportForm::Json:
        return jsonReport(report);
    case ReportForm::JsonLines:
        return eventLine("end", reportJson(report));
    case ReportForm::Text:
        break;
    }
    return textReport(report).toLocal8Bit();
}

} // namespace

int printReport(const RunReport &report, ReportForm form) {
    if (!report.usageError.isEmpty()) {
        std::fprintf(stderr, "quenta-flash: %s\nTry quenta-flash --help.\n",
                     report.usageError.toLocal8Bit().constData());
    }
    for (const QString &problem : report.problems) {
        std::fprintf(stderr, "quenta-flash: %s\n", problem.toLocal8Bit().constData());
    }
    const QByteArray out = reportBytes(report, form);
    errno = 0;
    const std::size_t written =
        std::fwrite(out.constData(), 1, static_cast<std::size_t>(out.size()), stdout);
    if (std::fflush(stdout) != 0 || written != static_cast<std::size_t>(out.size()) ||
        std::ferror(stdout) != 0) {
        std::fprintf(stderr,
                     "quenta-flash: the report could not be written to standard output "
                     "(%s)\n",
                     std::strerror(errno != 0 ? errno : EIO));
        return kNotRecorded;
    }
    return report.exit();
}

} // namespace quenta::flash
