#include "io/journal/JournalFormat.h"

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
    {"recipe", [](const JobRow &r) { return text(r.recipe); }},
    {"recipe_sha256", [](const JobRow &r) { return text(r.recipeSha256); }},
    {"verify_passes", [](const JobRow &r) { return number(r.verifyPasses); }},
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

// A spreadsheet takes a cell that begins with one of these for a formula, and runs it.
bool formulaLike(const QString &text) {
    return !text.isEmpty() && QStringLiteral("=+-@\t\r").contains(text.front());
}

// A text cell as CSV holds it: led by an apostrophe where a spreadsheet would run it.
QString csvText(const QVariant &value) {
    const QString text = plain(value);
    return value.typeId() == QMetaType::QString && formulaLike(text) ? u'\'' + text : text;
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

// How a text too long for its column is cut.
enum class Cut { KeepStart, KeepEnd, KeepBoth, Never };

// A column of the terminal table: at most `width` characters.
struct TableColumn {
    const char *header;
    int width;
    Cut cut;
    bool alignRight; // numbers
    QString (*value)(const JobRow &);
};

QString tableSeconds(const JobRow &r) {
    return r.seconds ? QString::number(*r.seconds, 'f', 1) : QString();
}

QString tablePort(const JobRow &r) {
    return r.address ? r.port + u':' + QString::number(*r.address) : r.port;
}

// Nine single spaces and the widths add up to 100; a result's name is never cut (the longest is
// 11 characters).
// clang-format off
const TableColumn kTable[] = {
    {"id", 6, Cut::KeepEnd, true, [](const JobRow &r) { return QString::number(r.id); }},
    {"started", 19, Cut::KeepStart, false, [](const JobRow &r) { return r.started.left(19).replace(u'T', u' '); }},
    {"station", 8, Cut::KeepStart, false, [](const JobRow &r) { return r.station; }},
    {"command", 11, Cut::KeepStart, false, [](const JobRow &r) { return r.command; }},
    {"port", 12, Cut::KeepBoth, false, tablePort},
    {"firmware", 10, Cut::KeepEnd, false, [](const JobRow &r) { return r.firmware.section(u'/', -1); }},
    {"serial", 8, Cut::KeepEnd, true, [](const JobRow &r) { return r.serial ? QString::number(*r.serial) : QString(); }},
    {"result", 11, Cut::Never, false, [](const JobRow &r) { return r.result; }},
    {"seconds", 7, Cut::KeepEnd, true, tableSeconds},
};
// clang-format on

// A control character (a line end, a tab) would break the table: it is shown by its symbol.
QString shown(QString value) {
    for (QChar &c : value) {
        if (c.unicode() < 0x20) {
            c = QChar(0x2400 + c.unicode());
        } else if (c.unicode() == 0x7F) {
            c = QChar(0x2421);
        }
    }
    return value;
}

QString cut(const QString &value, int width, Cut how) {
    if (value.size() <= width || how == Cut::Never) {
        return value;
    }
    const QString mark = QStringLiteral("…");
    const int kept = width - 1;
    switch (how) {
    case Cut::KeepEnd:
        return mark + value.right(kept);
    case Cut::KeepBoth:
        return value.left(kept / 2) + mark + value.right(kept - kept / 2);
    case Cut::KeepStart:
    case Cut::Never:
        break;
    }
    return value.left(kept) + mark;
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
            cells[r].append(cut(shown(column.value(rows[r])), column.width, column.cut));
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
            fields.append(csvField(csvText(column.value(row))));
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
