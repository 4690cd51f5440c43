#pragma once

#include "flash/frame/Settings.h"

#include <QString>
#include <QStringList>

#include <map>
#include <vector>

namespace quenta::flash {

// Every option of the program, in the order their readers run: an option read later may look at
// what an earlier one set.
enum class Option {
    Port,
    Baud,
    Usb,
    Modbus,
    Address,
    Timeout,
    Retries,
    Wait,
    VerifyPasses,
    Json,
    JsonLines,
    Quiet,
    Recipe,
    Journal,
    NoJournal,
    Station,
    Operator,
    SerialAt,
    SerialStart,
    SerialBytes,
    SerialFormat,
    SerialSeries,
    Since,
    Result,
    Serial,
    Firmware,
    Limit,
    Csv,
    Listen,
    TokenFile,
    AllowHost,
    TlsCert,
    TlsKey,
    Help,
    Version,
    ManPage,
    BashCompletion,
};

// The options a run was given, each with its values in order (a switch has none).
struct GivenOptions {
    std::map<Option, QStringList> values;

    bool has(Option option) const { return values.count(option) != 0; }
    // Its last value; empty when it was not given.
    QString last(Option option) const;
};

// One option as its reader sees it: the values given, else the option's default (one value) or
// none.
struct OptionValue {
    bool given = false;
    QStringList values;

    // The last value; empty for none.
    QString text() const { return values.isEmpty() ? QString() : values.last(); }
};

// Checks an option's value and puts it into the settings: the mistake, if any. `given` tells
// which options the run was given.
using OptionReader = QString (*)(const OptionValue &value, const GivenOptions &given,
                                 Settings &settings);

// How a recipe's value becomes the option's text, as it would be typed.
enum class RecipeValue {
    None,        // a recipe does not pin the option
    Number,      // a whole number
    Flag,        // true or false: the switch given or not
    Seconds,     // a number of seconds, whole or not
    Addresses,   // a list of bus addresses, or "all"
    Text,        // a text
    ByteAddress, // a whole number, written in hexadecimal
    JournalUrl,  // a journal's URL, an SQLite path taken from the recipe's folder, no password
};

// One option as the parser, the help, the man page, the completion and the recipe see it.
struct OptionSpec {
    Option option;
    QStringList names;   // short name first, if any
    QString valueName;   // empty for a switch
    QString description; // one paragraph, without the default
    QString fallback;    // the default value, as it would be typed; empty for none
    OptionReader read;   // none for the options that ask for help, the version or the manual
    // What completes its value: "@ports" (the serial ports), "@files", or the words,
    // blank-separated.
    QString completion = {};
    bool hidden = false;    // made for the build, not for people
    bool perRun = false;    // what varies per station or run: it may be given beside a recipe
    QString recipeKey = {}; // how a recipe pins it: "table.key"; empty when it cannot
    RecipeValue recipeValue = RecipeValue::None;
};

// One command as the help, the man page and the completion see it.
struct CommandSpec {
    Command command;
    QString argument; // "FILE", "N" or empty
    QString description;
};

const std::vector<OptionSpec> &optionTable();
// The options a recipe may pin in its table [table], in the table's order.
std::vector<const OptionSpec *> recipeOptions(const QString &table);
const OptionSpec &optionSpec(Option option);
// The option as it is typed: "--baud".
QString optionText(Option option);
const std::vector<CommandSpec> &commandTable();

} // namespace quenta::flash
