#include "flash/frame/FlashOptions.h"

#include "flash/frame/JournalOptions.h"
#include "flash/frame/Recipe.h"
#include "flash/frame/ServeSettings.h"

#include <QCommandLineParser>
#include <QRegularExpression>

namespace quenta::flash {
namespace {

bool runsOnSeveralPorts(Command command) {
    return takesFile(command) || command == Command::Check;
}

// Whether a recipe gives the command only its journal: log and serve read the jobs there.
bool readsRecipeJournal(Command command) {
    return command == Command::Log || command == Command::Serve;
}

// Checks the command of a run that follows a recipe: flash and verify take their file from it.
QString readRecipeCommand(const QStringList &words, Settings &s) {
    if (!takesFile(s.command) && s.command != Command::Check && !readsRecipeJournal(s.command)) {
        return QStringLiteral("a recipe is for flash, verify, check, serve and log (its journal), "
                              "not %1")
            .arg(words[0]);
    }
    if (words.size() > 1) {
        return takesFile(s.command)
                   ? QStringLiteral("%1 takes no FILE with a recipe: the recipe %2 pins the "
                                    "firmware (line %3)")
                         .arg(words[0], s.recipe->path, QString::number(s.recipe->firmwareLine))
                   : QStringLiteral("%1 takes no argument").arg(words[0]);
    }
    if (takesFile(s.command)) {
        s.file = s.recipe->firmware;
    }
    return {};
}

// Checks the command and its argument; the mistake, if any.
QString readCommand(const QStringList &words, Settings &s) {
    if (words.isEmpty()) {
        return QStringLiteral("no command given");
    }
    const auto command = commandNamed(words[0]);
    if (!command) {
        return QStringLiteral("unknown command \"%1\"").arg(words[0]);
    }
    s.command = *command;
    if (s.recipe) {
        return readRecipeCommand(words, s);
    }
    const bool argument = takesFile(s.command) || s.command == Command::SetAddress;
    if (words.size() != (argument ? 2 : 1)) {
        const QString what = takesFile(s.command) ? QStringLiteral("a FILE") : QStringLiteral("N");
        if (!argument) {
            return QStringLiteral("%1 takes no argument").arg(words[0]);
        }
        return words.size() == 1 ? QStringLiteral("%1 needs %2").arg(words[0], what)
                                 : QStringLiteral("%1 takes one %2, not %3 words")
                                       .arg(words[0], what.section(QLatin1Char(' '), -1))
                                       .arg(words.size() - 1);
    }
    if (takesFile(s.command)) {
        s.file = words[1];
    }
    if (s.command == Command::SetAddress) {
        // 0 is the Modbus broadcast address: no board can be given it.
        bool ok = false;
        const int address = words[1].toInt(&ok);
        if (!ok || address < 1 || address > 255) {
            return QStringLiteral("set-address needs N from 1 to 255");
        }
        s.newAddress = static_cast<std::uint8_t>(address);
    }
    return {};
}

// Reads every option of the table, in its order, by its reader; the first mistake, if any, with the
// recipe line it comes from.
QString readOptions(const GivenOptions &given, Settings &s) {
    for (const OptionSpec &row : optionTable()) {
        if (!row.read) {
            continue;
        }
        OptionValue value;
        const auto found = given.values.find(row.option);
        value.given = found != given.values.end();
        if (value.given) {
            value.values = found->second;
        } else if (!row.fallback.isEmpty()) {
            value.values = QStringList{row.fallback};
        }
        if (QString error = row.read(value, given, s); !error.isEmpty()) {
            const RecipePin *pin = s.recipe ? s.recipe->pinOf(row.option) : nullptr;
            return pin ? s.recipe->where(*pin) + QStringLiteral(": ") + error : error;
        }
    }
    return {};
}

// log --recipe lists the journal the recipe names.
QString checkLog(const Settings &s) {
    if (s.recipe && s.recipe->pinOf(Option::Journal) == nullptr) {
        return QStringLiteral("log --recipe lists the journal the recipe names, and the recipe %1 "
                              "names none: give it [journal] url")
            .arg(s.recipe->path);
    }
    return {};
}

// Checks what the command and the options say together; the mistake, if any.
QString checkTogether(const GivenOptions &given, const Settings &s) {
    if (s.command == Command::Ports) {
        return {};
    }
    if (readsRecipeJournal(s.command)) {
        if (!s.ports.isEmpty()) {
            return QStringLiteral("%1 takes no --port").arg(commandName(s.command).data());
        }
        return s.command == Command::Serve ? checkServe(s) : checkLog(s);
    }
    if (s.ports.isEmpty() && !(s.recipe && s.command == Command::Check)) {
        return QStringLiteral("%1 needs --port").arg(commandName(s.command).data());
    }
    if (s.ports.size() > 1 && !runsOnSeveralPorts(s.command)) {
        return QStringLiteral("several --port are for flash, verify and check only");
    }
    if (given.has(Option::Address) && !s.modbus) {
        return QStringLiteral("--address needs --modbus");
    }
    if (s.command == Command::Scan && s.addresses.kind == AddressChoice::Kind::List) {
        return QStringLiteral("scan takes a range of addresses, --address N-M or all");
    }
    if (s.command == Command::SetAddress && s.modbus &&
        (s.addresses.kind == AddressChoice::Kind::Range || s.addresses.list.size() > 1)) {
        return QStringLiteral("set-address is for one board: give one --address");
    }
    return checkSerialStamp(s);
}

// Qt's "Unknown option 'bogus'." in this program's words: "unknown option --bogus".
QString parserError(const QString &error) {
    static const QRegularExpression quoted(QStringLiteral("^(\\w+) option '([^']*)'\\.?$"));
    const QRegularExpressionMatch match = quoted.match(error);
    if (!match.hasMatch()) {
        return error.isEmpty() ? error : error.at(0).toLower() + error.mid(1);
    }
    const QString name = match.captured(2);
    return QStringLiteral("%1 option %2%3")
        .arg(match.captured(1).toLower(),
             name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), name);
}

// The options of the command line, with their values.
GivenOptions givenOn(const QCommandLineParser &parser) {
    GivenOptions given;
    for (const OptionSpec &row : optionTable()) {
        if (parser.isSet(row.names.last())) {
            given.values[row.option] = parser.values(row.names.last());
        }
    }
    return given;
}

// Takes the settings a recipe pins into what the command line gave, which may add only what
// varies per station or run; the mistake, if any. log takes only the recipe's journal, beside
// options of its own.
QString followRecipe(const QString &path, bool journalOnly, GivenOptions &given, Settings &s) {
    RecipeReading reading = readRecipe(path);
    if (!reading.recipe) {
        return reading.error;
    }
    s.recipe = std::make_shared<const Recipe>(std::move(*reading.recipe));
    const auto taken = [journalOnly](Option option) {
        return !journalOnly || option == Option::Journal;
    };
    for (const auto &[option, values] : given.values) {
        const RecipePin *pin = s.recipe->pinOf(option);
        if (pin != nullptr && taken(option)) {
            return QStringLiteral("%1 cannot be given: %2 pins it")
                .arg(optionText(option), s.recipe->where(*pin));
        }
        if (!journalOnly && !optionSpec(option).perRun) {
            return QStringLiteral("%1 cannot be given with a recipe: the recipe %2 holds a "
                                  "product's settings; pin it there")
                .arg(optionText(option), path);
        }
    }
    for (const RecipePin &pin : s.recipe->pins) {
        if (pin.given && taken(pin.option)) {
            given.values[pin.option] = pin.values;
        }
    }
    return {};
}

} // namespace

ParsedArguments parseArguments(const QStringList &arguments) {
    QCommandLineParser parser;
    for (const OptionSpec &row : optionTable()) {
        parser.addOption(QCommandLineOption(row.names, row.description, row.valueName));
    }
    ParsedArguments parsed;
    const bool understood = parser.parse(arguments);
    const QStringList words = parser.positionalArguments();
    if (!words.isEmpty() && commandNamed(words[0])) {
        parsed.command = words[0];
    }
    if (!understood) {
        parsed.error = parserError(parser.errorText());
        return parsed;
    }
    GivenOptions given = givenOn(parser);
    const std::pair<Option, ParsedArguments::Action> actions[] = {
        {Option::Help, ParsedArguments::Action::Help},
        {Option::Version, ParsedArguments::Action::Version},
        {Option::ManPage, ParsedArguments::Action::ManPage},
        {Option::BashCompletion, ParsedArguments::Action::Completion},
    };
    for (const auto &[option, action] : actions) {
        if (given.has(option)) {
            parsed.action = action;
            return parsed;
        }
    }
    Settings &s = parsed.settings;
    if (given.has(Option::Recipe)) {
        const QString recipe = given.last(Option::Recipe);
        given.values.erase(Option::Recipe);
        parsed.error = followRecipe(
            recipe, !words.isEmpty() && commandNamed(words[0]) == Command::Log, given, s);
        if (!parsed.error.isEmpty()) {
            return parsed;
        }
    }
    parsed.error = readCommand(words, s);
    if (parsed.error.isEmpty()) {
        parsed.error = readOptions(given, s);
    }
    if (parsed.error.isEmpty()) {
        parsed.error = checkTogether(given, s);
    }
    if (parsed.error.isEmpty()) {
        parsed.action = ParsedArguments::Action::Run;
    }
    return parsed;
}

} // namespace quenta::flash
