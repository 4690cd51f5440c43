#pragma once

#include "io/journal/JournalSummary.h"

#include <QByteArray>
#include <QString>

namespace quenta::flash {

// The summary as the view's API gives it: counts, yields (fractions, null without jobs), the
// median job time, every hour of the span, the failures (each with its recipe, null for none) and
// a tile per station with the firmware and recipe of its last job and its state: "red" after three
// failed jobs in a row, "amber" when idle for 10 minutes, else "green".
QByteArray summaryJson(const LineSummary &summary, const QString &span, double spanHours);

} // namespace quenta::flash
