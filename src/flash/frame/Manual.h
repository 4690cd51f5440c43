#pragma once

#include <QString>

namespace quenta::flash {

// The three ways the program describes itself, all made from the option and command tables so
// that they cannot drift apart: the help (lines within 80 columns), the manual page in roff, and
// the bash completion script.
QString helpText();
QString manPage(const QString &version);
QString bashCompletion();

// The exit statuses as the README's Markdown table: | Exit | Result | Meaning |.
QString exitStatusMarkdown();

} // namespace quenta::flash
