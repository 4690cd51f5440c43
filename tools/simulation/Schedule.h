#pragma once

#include "simboard/IntelHex.h"
#include "simulation/Firmware.h"
#include "simulation/JobWorld.h"
#include "simulation/Rng.h"

#include <cstddef>
#include <cstdint>
#include <string>

// What a seed draws: who runs the engine, the file, the board and its pace, the line's faults and
// the host's patience. The same seed draws the same schedule on every system.
namespace simulation {

// The kind of schedule drawn for a seed.
enum class Profile {
    Clean,  // no fault
    Paced,  // no fault, on a good board of uneven pace
    Calm,   // faults a flasher recovers from, ending when the second verify pass begins
    Gentle, // faults that change nothing but the reads: split answers, adapters, other boards
    Wild,   // anything
    Pair,   // two faults in a verify pass, against a board that does not hold the file
};

// Two faults in one verify pass, against a board that does not hold the file.
enum class Pair {
    None,
    LostError,  // the first ERROR the board gives is lost, and the answer before it comes twice
    GarbleEcho, // the first ERROR comes garbled, then a copy of the answer before it
    StrayOk,    // the first ERROR is lost and a stray "OK" comes in its place
    SlowEnd,    // the verify difference comes slowly at the end record, a stray "DOWNLOAD" first
};

// How a good board takes its time.
enum class Pace {
    Even,      // about the same for every line
    SlowFirst, // 70 ms for the first three data lines of a pass (a page erase), then 1 ms
    SlowPage,  // 40 ms for every fourth line (a page written), else its usual time
    Jitter,    // anything from 0 to 30 ms
    Eager,     // answers as the line's CR arrives, before its LF has
};

// How each fault is drawn for one schedule.
struct Faults {
    double lose = 0;       // an answer is lost on the line
    double late = 0;       // an answer comes just past the timeout, or up to half a timeout more
    double error = 0;      // an answer to a line is "ERROR" instead
    double noise = 0;      // noise before an answer (plain: sometimes a line of its own)
    double split = 0;      // an answer arrives in two pieces
    double foreign = 0;    // Modbus: a frame from another board arrives
    double corrupt = 0;    // a download line reaches the board changed, with a valid checksum
    double garble = 0;     // an answer arrives without its keyword
    double dupBack = 0;    // an answer comes twice, back to back
    double dupEcho = 0;    // the board sends its last answer again before it answers a command
    double dupLater = 0;   // a copy of an answer comes up to three answer times later
    double stray = 0;      // after a write, a stray keyword within three answer times
    int strays = 0;        // stray keywords at any moment of the job
    int adapterMs = 0;     // bytes for the host are handed over at ticks of this many ms
    int drops = 0;         // port drops at random times
    int resetAtLine = 0;   // the board drops the port whenever it takes this download line
    int lostRecords = 0;   // a board that comes back has forgotten this many records
    bool swap = false;     // after a drop another board comes back (blank, maybe another version)
    bool longDrop = false; // a drop may outlast the wait
    // Calm schedules: the one disturbance of the first verify pass (a stray, duplicate, noise
    // line or garbled answer), and whether the verify loses answers instead.
    bool calmDisturbance = false;
    Pair pair = Pair::None;
    // LostError: the copy comes before the answer to the next line, or else right after the
    // original.
    bool pairEcho = false;
    // The pair meets again in a later verify pass with this chance.
    double pairAgain = 0;
};

struct Schedule {
    Policy policy = Policy::Flasher;
    Profile profile = Profile::Clean;
    Firmware firmware;
    bool modbus = false;
    std::uint8_t address = 1;
    bool verifyOnly = false;
    Micros byteMicros = 87;
    Faults faults;
    Pace pace = Pace::Even;
    bool looseFrames = false;  // Modbus: answer frames without CR LF before their CRC
    Micros boardMicros = 1000; // the board's usual time for a command
    int timeoutMs = 100;
    int retries = 0;
    int waitMs = 1000;
    int verifyPasses = 1;
    bool reportsAtEnd = false; // the board tells a verify difference only at the end record
    std::size_t pairLine = 0;  // the record a pair's board differs in
    simboard::Memory memory;   // what the board holds before the job
    bool boardCanHold = true;  // the file can be verified on this board, as it starts
};

Schedule drawSchedule(Rng &rng);

// The schedule in one line, for a trace.
std::string describe(const Schedule &schedule);

} // namespace simulation
