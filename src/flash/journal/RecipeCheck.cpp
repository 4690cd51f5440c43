#include "flash/journal/RecipeCheck.h"

#include "io/journal/Journal.h"
#include "pure/JobResult.h"

#include <QRegularExpression>

namespace quenta::flash {

Firmware pinnedFirmware(Firmware firmware, const Recipe &recipe) {
    if (firmware.problem.isEmpty() && firmware.sha256 != recipe.firmwareSha256) {
        firmware.problem =
            QStringLiteral("%1 is not the firmware that the recipe %2 pins (line "
                           "%3): its SHA-256 is %4, not %5; nothing was sent")
                .arg(recipe.firmware, recipe.path, QString::number(recipe.firmwareLine),
                     firmware.sha256, recipe.firmwareSha256);
    }
    return firmware;
}

std::function<bool(std::string_view)> acceptsVersion(const QString &pattern) {
    const QRegularExpression whole(QRegularExpression::anchoredPattern(pattern));
    return [whole](std::string_view version) {
        return whole
            .match(QString::fromLatin1(version.data(), static_cast<qsizetype>(version.size())))
            .hasMatch();
    };
}

namespace {

CheckEntry seriesEntry(const Settings &settings, Journal &journal, int &exit) {
    const Recipe &recipe = *settings.recipe;
    const RecipePin *series = recipe.pinOf(Option::SerialSeries);
    const RecipePin *start = recipe.pinOf(Option::SerialStart);
    const QString name = series ? series->values.value(0) : QStringLiteral("default");
    const std::uint64_t first = start ? start->values.value(0).toULongLong() : 1;
    const RecipePin *bytes = recipe.pinOf(Option::SerialBytes);
    const unsigned width =
        (bytes ? bytes->values.value(0) : optionSpec(Option::SerialBytes).fallback).toUInt();
    const std::uint64_t largest = largestSerialIn(width);
    const auto next = journal.nextSerial(name);
    if (!next) {
        exit = std::max(exit, kNotRecorded);
        return {recipe.path, QStringLiteral("series"), false, next.error};
    }
    if (!*next) {
        return {recipe.path, QStringLiteral("series"), true,
                QStringLiteral("the series \"%1\" will be made at the first flash, starting at %2")
                    .arg(name, QString::number(first))};
    }
    const auto number = nextInSeries(*next, first, largest);
    if (!number) {
        exit = std::max(exit, exitCode(JobResult::BadFile));
        return {recipe.path, QStringLiteral("series"), false,
                QStringLiteral("the series \"%1\" is used up for %2 bytes")
                    .arg(name, QString::number(width))};
    }
    return {
        recipe.path, QStringLiteral("series"), true,
        QStringLiteral("the series \"%1\" hands out %2 next").arg(name, QString::number(*number))};
}

} // namespace

std::vector<CheckEntry> checkRecipe(const Settings &settings, const Firmware &firmware, int &exit) {
    const Recipe &recipe = *settings.recipe;
    std::vector<CheckEntry> checks;
    exit = 0;
    if (firmware.problem.isEmpty()) {
        checks.push_back({recipe.path, QStringLiteral("firmware"), true,
                          QStringLiteral("%1 holds %2 records and is the one pinned")
                              .arg(recipe.firmware, QString::number(firmware.records.size()))});
    } else {
        exit = exitCode(JobResult::BadFile);
        checks.push_back({recipe.path, QStringLiteral("firmware"), false, firmware.problem});
    }
    if (!settings.journal) {
        return checks;
    }
    auto journal = Journal::open(*settings.journal, settings.waitMs);
    if (!journal) {
        exit = std::max(exit, kNotRecorded);
        checks.push_back({recipe.path, QStringLiteral("journal"), false, journal.error});
        return checks;
    }
    checks.push_back({recipe.path, QStringLiteral("journal"), true,
                      QStringLiteral("%1 opens").arg(settings.journal->shown())});
    if (recipe.pinOf(Option::SerialAt) != nullptr) {
        checks.push_back(seriesEntry(settings, **journal, exit));
    }
    return checks;
}

} // namespace quenta::flash
