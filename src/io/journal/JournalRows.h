#pragma once

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>

namespace quenta {

// A text left empty is kept as no value (NULL), and read back as an empty text.

// What is known when a board's job starts: the row is written with the result "running".
struct JobStart {
    QDateTime started;             // kept in UTC as 2024-05-01T12:34:56.789Z; now when not valid
    QString station;               // the station's name
    QString operatorName;          // column "operator"
    QString tool;                  // e.g. "quenta-flash 4.1.0"
    QString command;               // e.g. "flash"
    QString port;                  // as given
    QString device;                // the resolved device path
    QString usbId;                 // "vvvv:pppp", lower-case hexadecimal, when on USB
    QString usbSerial;             // the USB serial number, when on USB
    std::optional<int> address;    // the Modbus address
    QString firmware;              // the file name as given
    QString firmwareSha256;        // lower-case hexadecimal
    std::optional<qint64> records; // records in the firmware file
    QString series;                // the serial number series, when one was taken
    std::optional<std::uint64_t> serial;
    QString recipe;       // the name of the recipe the job followed
    QString recipeSha256; // of the recipe file's bytes, lower-case hexadecimal
};

// What is known when the job has ended.
struct JobEnd {
    double seconds = 0.0;
    QString bootloader; // the bootloader's VER= text
    QString result;     // e.g. "ok", "no-answer"
    int exit = 0;
    qint64 lines = 0;        // lines sent
    qint64 retries = 0;      // re-sends after a missing answer
    qint64 resumed = 0;      // times the job went on after the port came back
    qint64 verifyPasses = 0; // verify passes begun
    QString message;
    // Written only when not empty: what was learned of the device during the job.
    QString device;
    QString usbId;
    QString usbSerial;
};

// A row of the table jobs, as read back; the end's columns are empty while it is running.
struct JobRow {
    qint64 id = 0;
    QString started; // as kept: 2024-05-01T12:34:56.789Z
    std::optional<double> seconds;
    QString station;
    QString operatorName;
    QString tool;
    QString command;
    QString port;
    QString device;
    QString usbId;
    QString usbSerial;
    std::optional<qint64> address;
    QString bootloader;
    QString firmware;
    QString firmwareSha256;
    std::optional<qint64> records;
    QString series;
    std::optional<std::uint64_t> serial;
    QString result;
    std::optional<qint64> exit;
    std::optional<qint64> lines;
    std::optional<qint64> retries;
    std::optional<qint64> resumed;
    QString message;
    QString recipe;
    QString recipeSha256;
    std::optional<qint64> verifyPasses;
};

// A job's place in a listing, newest first: the jobs after it started before it, or at the same
// moment with a lower id.
struct JobCursor {
    QString started; // as kept
    qint64 id = 0;
};

// Which jobs a listing shows, newest first; an empty criterion takes every job.
struct JobFilter {
    QDateTime since; // jobs started at or after it; not valid: any time
    QString result;
    std::optional<std::uint64_t> serial;
    QString firmwareSha256; // of either case
    QString station;
    QString recipe;                 // the recipe's name
    int limit = 20;                 // 0: all
    std::optional<JobCursor> after; // the jobs after this one
};

} // namespace quenta
