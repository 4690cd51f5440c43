#pragma once

#include "flash/frame/OptionTable.h"

#include <QString>

#include <map>
#include <optional>
#include <vector>

namespace quenta::flash {

// A setting a recipe pins, as the option it stands for would be given on the command line.
struct RecipePin {
    Option option;
    QString key;        // as written in the recipe: "link.baud"
    int line = 0;       // counted from 1
    QStringList values; // as the option's value would be typed; none for a switch
    bool given = true;  // false for a switch pinned off ("usb = false")
    QString shown;      // the value as the recipe writes it, for people
};

// One product's production settings, read from its TOML file: everything a station needs to flash
// it, so that nothing is left to a command line or to the environment.
struct Recipe {
    QString path;   // the file as given
    QString sha256; // of the file's bytes, lower-case hexadecimal
    QString name;
    QString firmware;       // absolute: a relative path is taken from the recipe's folder
    QString firmwareSha256; // lower-case
    int firmwareLine = 0;   // the line of [firmware] file
    QString boardVersion;   // the pattern the whole VER= text must match; empty for any board
    int boardLine = 0;
    std::vector<RecipePin> pins;

    // The pin of an option; none when the recipe leaves it to its default.
    const RecipePin *pinOf(Option option) const;
    // "the recipe FILE (line N, KEY)" for the pin of an option.
    QString where(const RecipePin &pin) const;
};

// A recipe, or why it is refused: "FILE:LINE:COLUMN: what is wrong".
struct RecipeReading {
    std::optional<Recipe> recipe;
    QString error;
};

// Reads a recipe: TOML with schema_version = 1, name, [firmware] file and sha256, and optionally
// [board] version, [link] (baud or usb, modbus, addresses, timeout, retries, wait), [serial] (at,
// bytes, format, series, start) and [journal] (url, required with [serial]; station). An unknown
// key, a value of the wrong type, a missing key, a journal URL with a password and a version that
// is no regular expression are refused, naming the line and column. A relative path, the
// firmware's or an SQLite journal's, is taken from the recipe's folder.
RecipeReading readRecipe(const QString &path);

} // namespace quenta::flash
