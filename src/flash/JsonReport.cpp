#include "flash/JsonReport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace quenta::flash {
namespace {

QJsonValue optionalNumber(const std::optional<int> &value) {
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

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
        {QStringLiteral("seconds"), std::round(board.seconds * 1000.0) / 1000.0},
        {QStringLiteral("message"), board.message},
    };
}

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

QByteArray jsonReport(const RunReport &report) {
    QJsonObject object{
        {QStringLiteral("command"),
         report.command.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(report.command)},
        {QStringLiteral("ok"), report.exit() == 0},
        {QStringLiteral("exit"), report.exit()},
        {QStringLiteral("boards"), arrayOf(report.boards, boardJson)},
    };
    if (report.command == QLatin1String("check")) {
        object.insert(QStringLiteral("checks"), arrayOf(report.checks, checkJson));
    }
    if (report.command == QLatin1String("ports")) {
        object.insert(QStringLiteral("ports"), arrayOf(report.ports, portJson));
    }
    if (!report.usageError.isEmpty()) {
        object.insert(QStringLiteral("message"), report.usageError);
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace quenta::flash
