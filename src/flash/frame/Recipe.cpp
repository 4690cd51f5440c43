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
        onlyKeys(top, {},
                 {QStringLiteral("schema_version"), QStringLiteral("name"),
                  QStringLiteral("firmware"), QStringLiteral("board"), QStringLiteral("link"),
                  QStringLiteral("verify"), QStringLiteral("serial"), QStringLiteral("journal")});
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
            const toml::table &pins = table(*link, "link");
            if (pins.contains("baud") && pins.contains("usb")) {
                refuse(pins.get("usb")->source(),
                       QStringLiteral("[link] takes baud or usb, not both"));
            }
            readPins(pins, QStringLiteral("link"));
        }
        if (const toml::node *verify = top.get("verify")) {
            readPins(table(*verify, "verify"), QStringLiteral("verify"));
        }
        if (const toml::node *journal = top.get("journal")) {
            readPins(table(*journal, "journal"), QStringLiteral("journal"));
        }
        if (const toml::node *serial = top.get("serial")) {
            if (recipe_.pinOf(Option::Journal) == nullptr) {
                refuse(serial->source(),
                       QStringLiteral("[serial] needs [journal] url: serial numbers come only from "
                                      "the journal the recipe names"));
            }
            const toml::table &pins = table(*serial, "serial");
            required(pins, QStringLiteral("serial"), "at");
            readPins(pins, QStringLiteral("serial"));
        }
    }

private:
    [[noreturn]] void refuse(const toml::source_region &where, const QString &what) const {
        throw Refusal{located(path_, where.begin.line, where.begin.column, what)};
    }

    static QString keyName(const QString &table, std::string_view key) {
        return table.isEmpty() ? text(key) : table + u'.' + text(key);
    }

    void onlyKeys(const toml::table &table, const QString &name, const QStringList &keys) const {
        for (const auto &[key, node] : table) {
            if (!keys.contains(text(key.str()))) {
                refuse(key.source(),
                       QStringLiteral("unknown key \"%1\"%2 (known: %3)")
                           .arg(keyName(name, key.str()),
                                name.isEmpty() ? QString() : QStringLiteral(" in [%1]").arg(name),
                                keys.join(QStringLiteral(", "))));
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
        onlyKeys(firmware, QStringLiteral("firmware"),
                 {QStringLiteral("file"), QStringLiteral("sha256")});
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
        onlyKeys(board, QStringLiteral("board"), {QStringLiteral("version")});
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

    // The keys of [name] that the option table lets a recipe pin, each pinned as its row says.
    void readPins(const toml::table &pins, const QString &name) {
        const std::vector<const OptionSpec *> options = recipeOptions(name);
        QStringList known;
        for (const OptionSpec *option : options) {
            known << option->recipeKey.section(QLatin1Char('.'), 1);
        }
        onlyKeys(pins, name, known);
        for (const auto &[key, node] : pins) {
            const QString full = keyName(name, key.str());
            const auto option = std::find_if(options.begin(), options.end(),
                                             [&](auto *each) { return each->recipeKey == full; });
            pinValue(**option, full, node);
        }
    }

    void pinValue(const OptionSpec &option, const QString &key, const toml::node &node) {
        switch (option.recipeValue) {
        case RecipeValue::Number:
            pin(option.option, key, node, {QString::number(integer(node, key))});
            break;
        case RecipeValue::Flag:
            pin(option.option, key, node, {}, boolean(node, key));
            break;
        case RecipeValue::Seconds:
            if (!node.is_number()) {
                wrongType(node, key, "a number of seconds");
            }
            pin(option.option, key, node, {QString::number(node.value<double>().value_or(0))});
            break;
        case RecipeValue::Addresses:
            pin(option.option, key, node, {addresses(node, key)});
            break;
        case RecipeValue::Text:
            pin(option.option, key, node, {string(node, key)});
            break;
        case RecipeValue::ByteAddress:
            pin(option.option, key, node,
                {QStringLiteral("0x") + QString::number(integer(node, key), 16).toUpper()});
            break;
        case RecipeValue::JournalUrl:
            pin(option.option, key, node, {journalUrl(node, key)});
            break;
        case RecipeValue::None:
            break;
        }
    }

    // A journal's URL as the recipe gives it: an SQLite path taken from the recipe's folder, and
    // no password.
    QString journalUrl(const toml::node &node, const QString &key) const {
        QString given = string(node, key);
        const QString sqlite = QStringLiteral("sqlite:");
        if (given.startsWith(sqlite) && !given.startsWith(sqlite + u'~') &&
            QFileInfo(given.mid(sqlite.size())).isRelative()) {
            given = sqlite + path(given.mid(sqlite.size()));
        }
        const auto place = readJournalPlace(given);
        if (!place) {
            refuse(node.source(), key + QStringLiteral(": ") + place.error);
        }
        if (!place->password.isEmpty()) {
            refuse(node.source(),
                   key + QStringLiteral(" holds a password: a recipe holds none; keep it in the "
                                        "station's ~/.pgpass or in PGPASSWORD"));
        }
        return given;
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
