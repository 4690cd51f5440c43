#include "io/JournalFormat.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QVariant>

#include <algorithm>

namespace quenta {
namespace {

QVariant text(const QString &value) {
    return value.isEmpty() ? QVariant() : QVariant(value);
}

template <typename T> QVariant number(const std::optional<T> &value) {
    return value ? QVariant::fromValue(*value) : QVariant();
}

// Every column of the table jobs, by its name, as a value that is null when empty.
struct Column {
    const char *name;
    QVariant (*value)(const JobRow &);
};

// clang-format off
const Column kColumns[] = {
    {"id", [](const JobRow &r) { return QVariant::fromValue(r.id); }},
    {"started", [](const JobRow &r) { return text(r.started); }},
    {"seconds", [](const JobRow &r) { return number(r.seconds); }},
    {"station", [](const JobRow &r) { return text(r.station); }},
    {"operator", [](const JobRow &r) { return text(r.operatorName); }},
    {"tool", [](const JobRow &r) { return text(r.tool); }},
    {"command", [](const JobRow &r) { return text(r.command); }},
    {"port", [](const JobRow &r) { return text(r.port); }},
    {"device", [](const JobRow &r) { return text(r.device); }},
    {"usb_id", [](const JobRow &r) { return text(r.usbId); }},
    {"usb_serial", [](const JobRow &r) { return text(r.usbSerial); }},
    {"address", [](const JobRow &r) { return number(r.address); }},
    {"bootloader", [](const JobRow &r) { return text(r.bootloader); }},
    {"firmware", [](const JobRow &r) { return text(r.firmware); }},
    {"firmware_sha256", [](const JobRow &r) { return text(r.firmwareSha256); }},
    {"records", [](const JobRow &r) { return number(r.records); }},
    {"series", [](const JobRow &r) { return text(r.series); }},
    {"serial", [](const JobRow &r) { return number(r.serial); }},
    {"result", [](const JobRow &r) { return text(r.result); }},
    {"exit", [](const JobRow &r) { return number(r.exit); }},
    {"lines", [](const JobRow &r) { return number(r.lines); }},
    {"retries", [](const JobRow &r) { return number(r.retries); }},
    {"resumed", [](const JobRow &r) { return number(r.resumed); }},
    {"message", [](const JobRow &r) { return text(r.message); }},
};
// clang-format on

QString plain(const QVariant &value) {
    if (value.isNull()) {
        return {};
    }
    if (value.typeId() == QMetaType::Double) {
        return QString::number(value.toDouble(), 'f', 3);
    }
    return value.toString();
}

QByteArray csvField(const QString &value) {
    QByteArray bytes = value.toUtf8();
    if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\r') ||
        bytes.contains('\n')) {
        bytes.replace("\"", "\"\"");
        return '"' + bytes + '"';
    }
    return bytes;
}

QJsonValue jsonValue(const QVariant &value) {
    switch (value.typeId()) {
    case QMetaType::Double:
        return value.toDouble();
    case QMetaType::QString:
        return value.toString();
    default:
        return value.isNull() ? QJsonValue() : QJsonValue(value.toLongLong());
    }
}

// A column of the terminal table: at most `width` characters.
struct TableColumn {
    const char *header;
    int width;
    bool keepEnd;    // a cut text keeps its end
    bool alignRight; // numbers
    QString (*value)(const JobRow &);
};

QString tableSeconds(const JobRow &r) {
    return r.seconds ? QString::number(*r.seconds, 'f', 1) : QString();
}

QString tablePort(const JobRow &r) {
    return r.address ? r.port + u':' + QString::number(*r.address) : r.port;
}

// Seven single spaces and the widths add up to 100.
// clang-format off
const TableColumn kTable[] = {
    {"id", 7, true, true, [](const JobRow &r) { return QString::number(r.id); }},
    {"started", 19, false, false, [](const JobRow &r) { return r.started.left(19).replace(u'T', u' '); }},
    {"station", 10, false, false, [](const JobRow &r) { return r.station; }},
    {"port", 14, true, false, tablePort},
    {"firmware", 14, true, false, [](const JobRow &r) { return r.firmware.section(u'/', -1); }},
    {"serial", 12, true, true, [](const JobRow &r) { return r.serial ? QString::number(*r.serial) : QString(); }},
    {"result", 10, false, false, [](const JobRow &r) { return r.result; }},
    {"seconds", 7, true, true, tableSeconds},
};
// clang-format on

QString cut(const QString &value, int width, bool keepEnd) {
    if (value.size() <= width) {
        return value;
    }
    const QString mark = QStringLiteral("…");
    return keepEnd ? mark + value.right(width - 1) : value.left(width - 1) + mark;
}

QString tableLine(const QStringList &cells, const std::vector<int> &widths) {
    QString line;
    for (std::size_t i = 0; i < widths.size(); ++i) {
        const QString &cell = cells[static_cast<qsizetype>(i)];
        line +=
            (i == 0 ? QString() : QStringLiteral(" ")) +
            (kTable[i].alignRight ? cell.rightJustified(widths[i]) : cell.leftJustified(widths[i]));
    }
    while (line.endsWith(u' ')) {
        line.chop(1);
    }
    return line + u'\n';
}

} // namespace

QString jobTable(const std::vector<JobRow> &rows) {
    std::vector<QStringList> cells(rows.size());
    std::vector<int> widths;
    QStringList headers;
    for (const TableColumn &column : kTable) {
        int width = static_cast<int>(qstrlen(column.header));
        for (std::size_t r = 0; r < rows.size(); ++r) {
            cells[r].append(cut(column.value(rows[r]), column.width, column.keepEnd));
            width = std::max(width, static_cast<int>(cells[r].back().size()));
        }
        widths.push_back(width);
        headers.append(QString::fromLatin1(column.header));
    }
    QString table = tableLine(headers, widths);
    for (const QStringList &line : cells) {
        table += tableLine(line, widths);
    }
    return table;
}

QByteArray jobsCsv(const std::vector<JobRow> &rows) {
    QByteArrayList header;
    for (const Column &column : kColumns) {
        header.append(column.name);
    }
    QByteArray csv = header.join(',') + "\r\n";
    for (const JobRow &row : rows) {
        QByteArrayList fields;
        for (const Column &column : kColumns) {
            fields.append(csvField(plain(column.value(row))));
        }
        csv += fields.join(',') + "\r\n";
    }
    return csv;
}

QByteArray jobsJson(const std::vector<JobRow> &rows) {
    QJsonArray array;
    for (const JobRow &row : rows) {
        QJsonObject object;
        for (const Column &column : kColumns) {
            object.insert(QLatin1String(column.name), jsonValue(column.value(row)));
        }
        array.append(object);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

} // namespace quenta
