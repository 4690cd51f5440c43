#include "flash/frame/Recipe.h"

#include "flash/frame/RecipeBounds.h"
#include "io/journal/JournalPlace.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <toml++/toml.h>

#include <initializer_list>

namespace quenta::flash {
namespace {

// The largest recipe read: a few hundred bytes are usual.
constexpr qint64 kRecipeLimit = 1024 * 1024;

// Why a recipe is refused, where.
struct Refusal {
    QString text;
};

QString text(std::string_view view) {
    return QString::fromUtf8(view.data(), static_cast<qsizetype>(view.size()));
}

// "FILE:LINE:COLUMN: what is wrong", the path taken as it is (no text of it is read as a format).
QString located(const QString &path, std::uint64_t line, std::uint64_t column,
                const QString &what) {
    return path + u':' + QString::number(line) + u':' + QString::number(column) +
           QStringLiteral(": ") + what;
}

const char *typeName(const toml::node &node) {
    switch (node.type()) {
    case toml::node_type::table:
        return "a table";
    case toml::node_type::array:
        return "a list";
    case toml::node_type::string:
        return "a text";
    case toml::node_type::integer:
        return "a whole number";
    case toml::node_type::floating_point:
        return "a number with a fraction";
    case toml::node_type::boolean:
        return "true or false";
    default:
        return "a date or time";
    }
}

// Reads the recipe's tables into a Recipe, refusing the first mistake.
class RecipeReader {
public:
    RecipeReader(QString path, Recipe &recipe)
        : path_(std::move(path)), folder_(QFileInfo(path_).absolutePath()), recipe_(recipe) {}

    void read(const toml::table &top) {
        onlyKeys(
            top, {},
            {"schema_version", "name", "firmware", "board", "link", "verify", "serial", "journal"});
        const toml::node &schema = required(top, {}, "schema_version");
        if (integer(schema, "schema_version") != 1) {
            refuse(schema.source(), QStringLiteral("schema_version must be 1, the version this "
                                                   "program reads"));
        }
        recipe_.name = string(required(top, {}, "name"), "name");
        if (recipe_.name.trimmed().isEmpty()) {
            refuse(top.get("name")->source(), QStringLiteral("name must not be empty"));
        }
        readFirmware(table(required(top, {}, "firmware"), "firmware"));
        if (const toml::node *board = top.get("board")) {
            readBoard(table(*board, "board"));
        }
        if (const toml::node *link = top.get("link")) {
            readLink(table(*link, "link"));
        }
        if (const toml::node *verify = top.get("verify")) {
            readVerify(table(*verify, "verify"));
        }
        const toml::node *journal = top.get("journal");
        if (journal != nullptr) {
            readJournal(table(*journal, "journal"));
        }
        if (const toml::node *serial = top.get("serial")) {
            if (recipe_.pinOf(Option::Journal) == nullptr) {
                refuse(serial->source(),
                       QStringLiteral("[serial] needs [journal] url: serial numbers come only from "
                                      "the journal the recipe names"));
            }
            readSerial(table(*serial, "serial"));
        }
    }

private:
    [[noreturn]] void refuse(const toml::source_region &where, const QString &what) const {
        throw Refusal{located(path_, where.begin.line, where.begin.column, what)};
    }

    static QString keyName(const QString &table, std::string_view key) {
        return table.isEmpty() ? text(key) : table + u'.' + text(key);
    }

    void onlyKeys(const toml::table &table, const QString &name,
                  std::initializer_list<std::string_view> keys) const {
        for (const auto &[key, node] : table) {
            if (std::find(keys.begin(), keys.end(), key.str()) == keys.end()) {
                QStringList known;
                for (const std::string_view each : keys) {
                    known << text(each);
                }
                refuse(key.source(),
                       QStringLiteral("unknown key \"%1\"%2 (known: %3)")
                           .arg(keyName(name, key.str()),
                                name.isEmpty() ? QString() : QStringLiteral(" in [%1]").arg(name),
                                known.join(QStringLiteral(", "))));
            }
        }
    }

    const toml::node &required(const toml::table &table, const QString &name,
                               std::string_view key) const {
        const toml::node *node = table.get(key);
        if (node == nullptr) {
            refuse(table.source(),
                   name.isEmpty()
                       ? QStringLiteral("the key \"%1\" is missing").arg(text(key))
                       : QStringLiteral("[%1] needs the key \"%2\"").arg(name, text(key)));
        }
        return *node;
    }

    [[noreturn]] void wrongType(const toml::node &node, const QString &key,
                                const char *wanted) const {
        refuse(node.source(),
               QStringLiteral("%1 must be %2, not %3").arg(key, wanted, typeName(node)));
    }

    const toml::table &table(const toml::node &node, const char *name) const {
        if (!node.is_table()) {
            wrongType(node, QString::fromLatin1(name), "a table");
        }
        return *node.as_table();
    }

    std::int64_t integer(const toml::node &node, const QString &key) const {
        if (!node.is_integer()) {
            wrongType(node, key, "a whole number");
        }
        return node.as_integer()->get();
    }

    QString string(const toml::node &node, const QString &key) const {
        if (!node.is_string()) {
            wrongType(node, key, "a text");
        }
        return text(node.as_string()->get());
    }

    bool boolean(const toml::node &node, const QString &key) const {
        if (!node.is_boolean()) {
            wrongType(node, key, "true or false");
        }
        return node.as_boolean()->get();
    }

    QString path(const QString &given) const {
        return QDir::cleanPath(QDir(folder_).absoluteFilePath(given));
    }

    void pin(Option option, const QString &key, const toml::node &node, QStringList values,
             bool given = true) {
        recipe_.pins.push_back({option, key, static_cast<int>(node.source().begin.line), values,
                                given,
                                given && values.isEmpty() ? QStringLiteral("true")
                                : values.isEmpty()        ? QStringLiteral("false")
                                                          : values.join(u',')});
    }

    void readFirmware(const toml::table &firmware) {
        onlyKeys(firmware, QStringLiteral("firmware"), {"file", "sha256"});
        const toml::node &file = required(firmware, QStringLiteral("firmware"), "file");
        recipe_.firmware = path(string(file, QStringLiteral("firmware.file")));
        recipe_.firmwareLine = static_cast<int>(file.source().begin.line);
        const toml::node &sha = required(firmware, QStringLiteral("firmware"), "sha256");
        recipe_.firmwareSha256 = string(sha, QStringLiteral("firmware.sha256")).toLower();
        static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{64}$"));
        if (!hex.match(recipe_.firmwareSha256).hasMatch()) {
            refuse(sha.source(), QStringLiteral("firmware.sha256 must be the file's SHA-256: 64 "
                                                "hexadecimal digits (sha256sum prints it)"));
        }
    }

    void readBoard(const toml::table &board) {
        onlyKeys(board, QStringLiteral("board"), {"version"});
        const toml::node &version = required(board, QStringLiteral("board"), "version");
        recipe_.boardVersion = string(version, QStringLiteral("board.version"));
        recipe_.boardLine = static_cast<int>(version.source().begin.line);
        const QRegularExpression pattern(recipe_.boardVersion);
        if (!pattern.isValid() || recipe_.boardVersion.isEmpty()) {
            refuse(version.source(),
                   QStringLiteral("board.version must be a regular expression: %1")
                       .arg(recipe_.boardVersion.isEmpty() ? QStringLiteral("it is empty")
                                                           : pattern.errorString()));
        }
    }

    void readLink(const toml::table &link) {
        onlyKeys(link, QStringLiteral("link"),
                 {"baud", "usb", "modbus", "addresses", "timeout", "retries", "wait"});
        if (link.contains("baud") && link.contains("usb")) {
            refuse(link.get("usb")->source(), QStringLiteral("[link] takes baud or usb, not both"));
        }
        for (const auto &[key, node] : link) {
            const QString name = keyName(QStringLiteral("link"), key.str());
            if (key == "baud") {
                pin(Option::Baud, name, node, {QString::number(integer(node, name))});
            } else if (key == "usb" || key == "modbus") {
                pin(key == "usb" ? Option::Usb : Option::Modbus, name, node, {},
                    boolean(node, name));
            } else if (key == "addresses") {
                pin(Option::Address, name, node, {addresses(node, name)});
            } else if (key == "timeout") {
                pin(Option::Timeout, name, node, {QString::number(integer(node, name))});
            } else if (key == "retries") {
                pin(Option::Retries, name, node, {QString::number(integer(node, name))});
            } else {
                if (!node.is_number()) {
                    wrongType(node, name, "a number of seconds");
                }
                pin(Option::Wait, name, node, {QString::number(node.value<double>().value_or(0))});
            }
        }
    }

    void readVerify(const toml::table &verify) {
        onlyKeys(verify, QStringLiteral("verify"), {"passes"});
        if (const toml::node *passes = verify.get("passes")) {
            const QString name = keyName(QStringLiteral("verify"), "passes");
            pin(Option::VerifyPasses, name, *passes, {QString::number(integer(*passes, name))});
        }
    }

    QString addresses(const toml::node &node, const QString &key) const {
        if (node.is_string()) {
            if (node.as_string()->get() != "all") {
                refuse(node.source(), key + QStringLiteral(" must be a list of addresses or "
                                                           "\"all\""));
            }
            return QStringLiteral("all");
        }
        if (!node.is_array() || node.as_array()->empty()) {
            wrongType(node, key, "a list of addresses or \"all\"");
        }
        QStringList list;
        for (const toml::node &each : *node.as_array()) {
            list << QString::number(integer(each, key));
        }
        return list.join(u',');
    }

    void readSerial(const toml::table &serial) {
        onlyKeys(serial, QStringLiteral("serial"), {"at", "bytes", "format", "series", "start"});
        required(serial, QStringLiteral("serial"), "at");
        for (const auto &[key, node] : serial) {
            const QString name = keyName(QStringLiteral("serial"), key.str());
            if (key == "at") {
                pin(Option::SerialAt, name, node,
                    {QStringLiteral("0x") + QString::number(integer(node, name), 16).toUpper()});
            } else if (key == "bytes") {
                pin(Option::SerialBytes, name, node, {QString::number(integer(node, name))});
            } else if (key == "start") {
                pin(Option::SerialStart, name, node, {QString::number(integer(node, name))});
            } else {
                pin(key == "format" ? Option::SerialFormat : Option::SerialSeries, name, node,
                    {string(node, name)});
            }
        }
    }

    void readJournal(const toml::table &journal) {
        onlyKeys(journal, QStringLiteral("journal"), {"url", "station"});
        if (const toml::node *url = journal.get("url")) {
            QString given = string(*url, QStringLiteral("journal.url"));
            const QString sqlite = QStringLiteral("sqlite:");
            if (given.startsWith(sqlite) && !given.startsWith(sqlite + u'~') &&
                QFileInfo(given.mid(sqlite.size())).isRelative()) {
                given = sqlite + path(given.mid(sqlite.size()));
            }
            const auto place = readJournalPlace(given);
            if (!place) {
                refuse(url->source(), QStringLiteral("journal.url: ") + place.error);
            }
            if (!place->password.isEmpty()) {
                refuse(url->source(),
                       QStringLiteral("journal.url holds a password: a recipe holds none; keep "
                                      "it in the station's ~/.pgpass or in PGPASSWORD"));
            }
            pin(Option::Journal, QStringLiteral("journal.url"), *url, {given});
        }
        if (const toml::node *station = journal.get("station")) {
            pin(Option::Station, QStringLiteral("journal.station"), *station,
                {string(*station, QStringLiteral("journal.station"))});
        }
    }

    QString path_;
    QString folder_;
    Recipe &recipe_;
};

} // namespace

const RecipePin *Recipe::pinOf(Option option) const {
    for (const RecipePin &pin : pins) {
        if (pin.option == option) {
            return &pin;
        }
    }
    return nullptr;
}

QString Recipe::where(const RecipePin &pin) const {
    return QStringLiteral("the recipe %1 (line %2, %3)")
        .arg(path, QString::number(pin.line), pin.key);
}

RecipeReading readRecipe(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {std::nullopt,
                QStringLiteral("cannot read the recipe %1: %2").arg(path, file.errorString())};
    }
    const QByteArray bytes = file.read(kRecipeLimit + 1);
    if (bytes.size() > kRecipeLimit) {
        return {std::nullopt, QStringLiteral("the recipe %1 is larger than 1 MiB").arg(path)};
    }
    const std::string_view content(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    if (const auto passed = recipeBoundPassed(content)) {
        return {std::nullopt, located(path, static_cast<std::uint64_t>(passed->line),
                                      static_cast<std::uint64_t>(passed->column),
                                      QString::fromStdString(passed->what))};
    }
    Recipe recipe;
    recipe.path = path;
    recipe.sha256 =
        QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    try {
        const toml::table top = toml::parse(content, path.toStdString());
        RecipeReader(path, recipe).read(top);
    } catch (const toml::parse_error &error) {
        return {std::nullopt, located(path, error.source().begin.line, error.source().begin.column,
                                      text(error.description()))};
    } catch (const Refusal &refusal) {
        return {std::nullopt, refusal.text};
    }
    return {std::move(recipe), {}};
}

} // namespace quenta::flash
