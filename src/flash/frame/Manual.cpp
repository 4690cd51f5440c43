#include "flash/frame/Manual.h"

#include "flash/frame/ManualText.h"
#include "flash/frame/OptionTable.h"
#include "flash/frame/Report.h"
#include "pure/JobResult.h"

#include <QStringList>

#include <algorithm>

namespace quenta::flash {
namespace {

constexpr int kWidth = 80;
constexpr int kTextColumn = 22;

QString name(Command command) {
    const std::string_view text = commandName(command);
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// A line of the tables of exit statuses.
struct ExitStatus {
    int code;        // 128 stands for 128+N
    QString result;  // the result's name; empty for a status that is not a board's
    QString meaning; // one sentence without its period
};

// The exit statuses from the outcomes of a job, with the program's own status 6, by code.
std::vector<ExitStatus> exitStatuses() {
    std::vector<ExitStatus> rows;
    for (const JobResult result : kJobResults) {
        const std::string_view name = resultName(result);
        const std::string_view meaning = resultMeaning(result);
        rows.push_back(
            {exitCode(result),
             QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())),
             QString::fromLatin1(meaning.data(), static_cast<qsizetype>(meaning.size()))});
    }
    rows.push_back({kNotRecorded,
                    {},
                    QStringLiteral("the journal could not be opened (nothing was sent) or written, "
                                   "or the report could not be written; log and serve: the journal "
                                   "is not there or of another version")});
    std::stable_sort(rows.begin(), rows.end(),
                     [](const ExitStatus &a, const ExitStatus &b) { return a.code < b.code; });
    return rows;
}

QString codeText(const ExitStatus &status) {
    return status.code == 128 ? QStringLiteral("128+N") : QString::number(status.code);
}

// The option's description, with its default.
QString described(const OptionSpec &row) {
    return row.fallback.isEmpty()
               ? row.description
               : row.description + QStringLiteral(" Default: %1.").arg(row.fallback);
}

// The words of `text` in lines of at most kWidth columns, each begun by `indent` blanks; the
// first line continues what stands in front of it, already `start` columns wide.
QString wrapped(const QString &text, int indent, int start) {
    QString out;
    int column = start;
    for (const QString &word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (column > indent && column + 1 + word.size() > kWidth) {
            out += QLatin1Char('\n') + QString(indent, QLatin1Char(' '));
            column = indent;
        } else if (column > indent) {
            out += QLatin1Char(' ');
            ++column;
        }
        out += word;
        column += static_cast<int>(word.size());
    }
    return out + QLatin1Char('\n');
}

// "  head" then the text from kTextColumn on (on the next line when the head is too long).
QString entry(const QString &head, const QString &text) {
    QString line = QStringLiteral("  ") + head;
    if (line.size() + 1 > kTextColumn) {
        line += QLatin1Char('\n') + QString(kTextColumn, QLatin1Char(' '));
    } else {
        line += QString(kTextColumn - line.size(), QLatin1Char(' '));
    }
    return line + wrapped(text, kTextColumn, kTextColumn);
}

QString optionHead(const OptionSpec &row) {
    QStringList names;
    for (const QString &each : row.names) {
        names << (each.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + each;
    }
    QString head = names.join(QStringLiteral(", "));
    if (row.names.first().size() > 1) {
        head = QStringLiteral("    ") + head;
    }
    return row.valueName.isEmpty() ? head : head + QLatin1Char(' ') + row.valueName;
}

// Text as roff takes it: backslashes and minus signs escaped, no line begun by a control
// character.
QString roff(QString text) {
    text.replace(QLatin1Char('\\'), QLatin1String("\\e"));
    text.replace(QLatin1Char('-'), QLatin1String("\\-"));
    if (text.startsWith(QLatin1Char('.')) || text.startsWith(QLatin1Char('\''))) {
        text.prepend(QLatin1String("\\&"));
    }
    return text;
}

// The keys a recipe may pin, table by table, in roff: "[link] baud, usb, ...; [verify] passes".
QString recipeKeys() {
    QStringList tables;
    for (const char *table : {"link", "verify", "serial", "journal"}) {
        QStringList keys;
        for (const OptionSpec *option : recipeOptions(QString::fromLatin1(table))) {
            keys << QStringLiteral("\\fB%1\\fR (%2)")
                        .arg(option->recipeKey.section(QLatin1Char('.'), 1),
                             roff(optionText(option->option)));
        }
        tables << QStringLiteral("\\fB[%1]\\fR ").arg(QString::fromLatin1(table)) +
                      keys.join(QStringLiteral(", "));
    }
    return tables.join(QStringLiteral("; "));
}

// The options that may be given beside a recipe, in roff.
QString perRunOptions() {
    QStringList options;
    for (const OptionSpec &row : optionTable()) {
        if (row.perRun && row.option != Option::Recipe) {
            options << roff(optionText(row.option));
        }
    }
    return QStringLiteral(".BR ") + options.join(QStringLiteral(" \", \" "));
}

QString roffOption(const OptionSpec &row) {
    QStringList names;
    for (const QString &each : row.names) {
        names << QStringLiteral("\\fB%1%2\\fR")
                     .arg(each.size() == 1 ? QStringLiteral("\\-") : QStringLiteral("\\-\\-"),
                          roff(each));
    }
    QString head = names.join(QStringLiteral(", "));
    if (!row.valueName.isEmpty()) {
        head += QStringLiteral(" \\fI%1\\fR").arg(row.valueName);
    }
    return QStringLiteral(".TP\n%1\n%2\n").arg(head, roff(described(row)));
}

QString completionWords(bool values) {
    QStringList words;
    for (const OptionSpec &row : optionTable()) {
        if (row.hidden || (values && row.valueName.isEmpty())) {
            continue;
        }
        for (const QString &each : row.names) {
            words << (each.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + each;
        }
    }
    return words.join(values ? QLatin1Char('|') : QLatin1Char(' '));
}

QString completionValues() {
    QString cases;
    for (const OptionSpec &row : optionTable()) {
        if (row.valueName.isEmpty() || row.hidden) {
            continue;
        }
        QStringList names;
        for (const QString &each : row.names) {
            names << (each.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + each;
        }
        const QString reply = row.completion == QLatin1String("@files")
                                  ? QStringLiteral("compopt -o filenames 2>/dev/null\n        "
                                                   "COMPREPLY=($(compgen -f -- \"$cur\"))")
                                  : QStringLiteral("COMPREPLY=($(compgen -W \"%1\" -- \"$cur\"))")
                                        .arg(row.completion == QLatin1String("@ports")
                                                 ? QStringLiteral("$(_quenta_flash_ports)")
                                                 : row.completion);
        cases += QStringLiteral("    %1)\n        %2\n        return\n        ;;\n")
                     .arg(names.join(QLatin1Char('|')), reply);
    }
    return cases;
}

} // namespace

QString helpText() {
    QString text = QStringLiteral(
        "Usage: quenta-flash [OPTIONS] COMMAND [ARGUMENT]\n"
        "Flashes Intel HEX firmware into PIC bootloader boards over a serial line or a\n"
        "Modbus bus.\n\nCommands:\n");
    for (const CommandSpec &row : commandTable()) {
        text +=
            entry((name(row.command) + QLatin1Char(' ') + row.argument).trimmed(), row.description);
    }
    text += QStringLiteral("\nOptions:\n");
    for (const OptionSpec &row : optionTable()) {
        if (!row.hidden) {
            text += entry(optionHead(row), described(row));
        }
    }
    text += QStringLiteral("\nExit status (with several boards, the highest of theirs):\n");
    for (const ExitStatus &status : exitStatuses()) {
        const QString result = status.result.isEmpty() ? QString() : status.result + u':';
        text += QStringLiteral("  %1").arg(codeText(status), -7) +
                wrapped(result + u' ' + status.meaning + u'.', 9, 9);
    }
    return text;
}

QString manPage(const QString &version) {
    QString page = QStringLiteral(".TH QUENTA\\-FLASH 1 \"\" \"quenta\\-flash %1\" \"User "
                                  "Commands\"\n.SH NAME\nquenta\\-flash \\- flash PIC bootloader "
                                  "boards from the command line\n.SH SYNOPSIS\n.B quenta\\-flash\n"
                                  "[\\fIOPTIONS\\fR] \\fICOMMAND\\fR [\\fIARGUMENT\\fR]\n")
                       .arg(version);
    page += QString::fromLatin1(manual::kDescription);
    page += QStringLiteral(".SH COMMANDS\n");
    for (const CommandSpec &row : commandTable()) {
        page += QStringLiteral(".TP\n\\fB%1\\fR%2\n%3\n")
                    .arg(roff(name(row.command)),
                         row.argument.isEmpty() ? QString()
                                                : QStringLiteral(" \\fI%1\\fR").arg(row.argument),
                         roff(row.description));
    }
    page += QStringLiteral(".SH OPTIONS\n");
    for (const OptionSpec &row : optionTable()) {
        if (!row.hidden) {
            page += roffOption(row);
        }
    }
    page += QStringLiteral(".SH \"EXIT STATUS\"\nWith several boards, the highest of their "
                           "codes.\n");
    for (const ExitStatus &status : exitStatuses()) {
        page += QStringLiteral(".TP\n.B %1\n%2%3.\n")
                    .arg(roff(codeText(status)),
                         status.result.isEmpty()
                             ? QString()
                             : QStringLiteral("\\fB%1\\fR: ").arg(roff(status.result)),
                         roff(status.meaning));
    }
    QStringList results;
    for (const JobResult result : kJobResults) {
        const std::string_view name = resultName(result);
        results << roff(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
    }
    page += QString::fromLatin1(manual::kReport)
                .replace(QStringLiteral("{results}"), results.join(QStringLiteral(" \", \" ")))
                .replace(QStringLiteral("{recipeKeys}"), recipeKeys())
                .replace(QStringLiteral("{perRunOptions}"), perRunOptions());
    page += QString::fromLatin1(manual::kLineView);
    page += QString::fromLatin1(manual::kExamples);
    return page;
}

QString exitStatusMarkdown() {
    QString table = QStringLiteral("| Exit | Result | Meaning |\n|---|---|---|\n");
    for (const ExitStatus &status : exitStatuses()) {
        table += QStringLiteral("| %1 | %2 | %3 |\n")
                     .arg(codeText(status),
                          status.result.isEmpty() ? QString() : u'`' + status.result + u'`',
                          QString(status.meaning)
                              .replace(QStringLiteral("--wait"), QStringLiteral("`--wait`")));
    }
    return table;
}

QString bashCompletion() {
    QStringList commands;
    QStringList withFile;
    for (const CommandSpec &row : commandTable()) {
        commands << name(row.command);
        if (row.argument == QLatin1String("FILE")) {
            withFile << name(row.command);
        }
    }
    return QStringLiteral(R"(# bash completion for quenta-flash
_quenta_flash_ports() {
    compgen -G '/dev/tty[SUA]*'
    compgen -G '/dev/serial/by-id/*'
}

_quenta_flash() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    # "--port=/dev/tt" comes in three words: "--port", "=" and "/dev/tt".
    if [[ $cur == = ]]; then
        cur=""
    elif [[ $prev == = ]]; then
        prev=${COMP_WORDS[COMP_CWORD-2]}
    fi
    local i word command="" arguments=0
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        case $word in
        %1)
            ((i++))
            [[ ${COMP_WORDS[i]} == = ]] && ((i++))
            ;;
        -* | =) ;;
        *)
            if [[ -z $command ]]; then command=$word; else ((arguments++)); fi
            ;;
        esac
    done
    case $prev in
%2    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "%3" -- "$cur"))
        return
    fi
    case $command in
    "")
        COMPREPLY=($(compgen -W "%4" -- "$cur"))
        ;;
    %5)
        if ((arguments == 0)); then
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -f -X '!*.[hH][eE][xX]' -- "$cur") $(compgen -d -- "$cur"))
        fi
        ;;
    esac
} &&
    complete -F _quenta_flash quenta-flash
)")
        .arg(completionWords(true), completionValues(), completionWords(false),
             commands.join(QLatin1Char(' ')), withFile.join(QLatin1Char('|')));
}

} // namespace quenta::flash
