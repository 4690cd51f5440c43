#include "flash/lineview/SummaryJson.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace quenta::flash {
namespace {

constexpr qint64 kIdleSeconds = 10 * 60;
constexpr int kRedRun = 3;

QJsonValue fraction(qint64 part, qint64 whole) {
    return whole > 0 ? QJsonValue(static_cast<double>(part) / static_cast<double>(whole))
                     : QJsonValue();
}

QJsonValue text(const QString &value) {
    return value.isEmpty() ? QJsonValue() : QJsonValue(value);
}

QDateTime moment(const QString &kept) {
    return QDateTime::fromString(kept, Qt::ISODateWithMs);
}

QString stateOf(const StationCount &station, const QDateTime &now) {
    if (station.failuresInARow >= kRedRun) {
        return QStringLiteral("red");
    }
    const QString lastMoment =
        station.lastEnded.isEmpty() ? station.lastStarted : station.lastEnded;
    const bool idle = station.running == 0 &&
                      (lastMoment.isEmpty() || moment(lastMoment).secsTo(now) >= kIdleSeconds);
    return idle ? QStringLiteral("amber") : QStringLiteral("green");
}

QJsonArray hoursJson(const LineSummary &summary) {
    QJsonArray hours;
    for (const HourCount &hour : summary.hours) {
        hours.append(QJsonObject{{QStringLiteral("hour"), hour.hour + QStringLiteral(":00:00Z")},
                                 {QStringLiteral("ok"), hour.ok},
                                 {QStringLiteral("failed"), hour.failed}});
    }
    return hours;
}

QJsonArray failuresJson(const LineSummary &summary) {
    QJsonArray failures;
    for (const FailureCount &failure : summary.failures) {
        failures.append(QJsonObject{{QStringLiteral("result"), failure.result},
                                    {QStringLiteral("message"), text(failure.message)},
                                    {QStringLiteral("recipe"), text(failure.recipe)},
                                    {QStringLiteral("jobs"), failure.jobs}});
    }
    return failures;
}

QJsonArray stationsJson(const LineSummary &summary) {
    const QDateTime now = moment(summary.now);
    QJsonArray stations;
    for (const StationCount &station : summary.stations) {
        stations.append(QJsonObject{
            {QStringLiteral("station"), station.station},
            {QStringLiteral("firmware"), text(station.firmware)},
            {QStringLiteral("firmware_sha256"), text(station.firmwareSha256)},
            {QStringLiteral("recipe"), text(station.recipe)},
            {QStringLiteral("recipe_sha256"), text(station.recipeSha256)},
            {QStringLiteral("last_started"), text(station.lastStarted)},
            {QStringLiteral("last_result"), text(station.lastResult)},
            {QStringLiteral("last_ended"), text(station.lastEnded)},
            {QStringLiteral("jobs"), station.jobs},
            {QStringLiteral("ok"), station.ok},
            {QStringLiteral("yield"), fraction(station.ok, station.jobs)},
            {QStringLiteral("running"), station.running},
            {QStringLiteral("failures_in_a_row"), station.failuresInARow},
            {QStringLiteral("state"), stateOf(station, now)},
        });
    }
    return stations;
}

} // namespace

QByteArray summaryJson(const LineSummary &summary, const QString &span, double spanHours) {
    const QJsonObject object{
        {QStringLiteral("span"), span},
        {QStringLiteral("since"), summary.since},
        {QStringLiteral("now"), summary.now},
        {QStringLiteral("boards_last_hour"), summary.lastHour},
        {QStringLiteral("boards"), summary.jobs},
        {QStringLiteral("ok"), summary.ok},
        {QStringLiteral("boards_per_hour"), static_cast<double>(summary.jobs) / spanHours},
        {QStringLiteral("units"), summary.units},
        {QStringLiteral("first_pass_yield"), fraction(summary.firstPassOk, summary.units)},
        {QStringLiteral("final_yield"), fraction(summary.finalOk, summary.units)},
        {QStringLiteral("median_seconds"),
         summary.medianSeconds ? QJsonValue(*summary.medianSeconds) : QJsonValue()},
        {QStringLiteral("hours"), hoursJson(summary)},
        {QStringLiteral("failures"), failuresJson(summary)},
        {QStringLiteral("stations"), stationsJson(summary)},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace quenta::flash
