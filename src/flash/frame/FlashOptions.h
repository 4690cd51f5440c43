#pragma once

#include "flash/frame/OptionTable.h"
#include "flash/frame/Settings.h"

#include <QString>
#include <QStringList>

namespace quenta::flash {

struct ParsedArguments {
    enum class Action { Run, Help, Version, ManPage, Completion, UsageError };
    Action action = Action::UsageError;
    Settings settings;
    QString error;   // UsageError: what is wrong, for people
    QString command; // the command as given, when it is one
};

// Reads and checks the command line (the program's name first): the command, then every option of
// the table by its reader, in the table's order, then what they say together. Every mistake is a
// usage error.
ParsedArguments parseArguments(const QStringList &arguments);

} // namespace quenta::flash
