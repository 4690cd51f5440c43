#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What went over the line of one simulated job, as the world saw it: every command the host
// wrote, every thing from the board's address that the host could take for an answer (the board's
// own answers, and the faults': duplicates, strays, garbled answers, noise lines), and every read
// of the host. The judgements below are drawn from this record alone: they know what each thing
// was, which the host does not.
namespace simulation {

using Micros = std::int64_t;

enum class CommandKind { Probe, Download, Verify };

// One command the host wrote.
struct Write {
    Micros at = 0;
    std::size_t readsBefore = 0; // reads the host had taken when it wrote
    std::string command;         // without framing
    CommandKind kind = CommandKind::Probe;
    std::size_t wireBytes = 0;      // on the line, framing included
    bool repeat = false;            // the command written just before, once more: a re-send
    bool endRecord = false;         // the file's end record
    bool passStart = false;         // the first line of a verify pass (not a re-send of it)
    std::vector<std::size_t> lines; // the lines of the file (from 1) that hold this record
    int epoch = 0;                  // the port's life it was written in; -1 when it was gone
    bool cut = false;               // a drop took it before it reached the board
};

enum class ItemKind {
    Answer,    // the board's answer to a command (or an ERROR put in its place)
    Garbled,   // the board's answer, changed on the line so that it holds no keyword
    Duplicate, // a copy of an answer
    Stray,     // a keyword from the board's address that answers nothing
    NoiseLine, // a line of noise (plain mode)
};

// Something from the board's address that the host may take for an answer.
struct Item {
    ItemKind kind = ItemKind::Answer;
    std::string keyword; // "OK", "DOWNLOAD", "ERROR", "VER=..."; empty when it holds none
    int answers = -1;    // the write it answers (Answer, Garbled); its original's (Duplicate)
    int epoch = 0;
    bool lost = false; // lost on the line
    bool cut = false;  // cut off by a drop of the port before it came whole
    // The read that brought its first keyword byte (plain mode) or frame byte (Modbus), and the
    // read that completed it.
    std::optional<std::size_t> beginRead;
    std::optional<std::size_t> endRead;
    Micros beginAt = 0;
    Micros endAt = 0;
    std::optional<Micros> dueAt; // when its last piece was due at the host
};

// One read of the host.
struct Read {
    Micros at = 0;
    std::vector<int> begun;    // the items whose first byte it brought, in order
    std::vector<int> ended;    // the items it completed
    bool lineEndsOnly = false; // plain mode: it held nothing but CR and LF
};

// An ERROR that reached the host, and the lines it refused.
struct ErrorSeen {
    std::vector<std::size_t> lines; // none: it answered no line
    std::size_t read = 0;           // the read that completed it
    bool binding = false;           // it came after a line was written on the port as it was then
};

// What the record says of the pass that ended the job.
struct PassReview {
    // A stray or a copy of an answer was taken for a line's answer: the first thing that came
    // after a line went out was not the board's answer to it.
    bool standIn = false;
    // An ERROR the board gave to a line of the pass was lost on the line, cut off by a drop, or
    // due later than the answer timeout allows: beyond what any quiet covers.
    bool lostError = false;
};

class Traffic {
public:
    explicit Traffic(const std::vector<std::string> &records) : records_(records) {}

    int write(Micros at, std::string command, std::size_t wireBytes, int epoch);
    int item(ItemKind kind, std::string keyword, int answers, int epoch);
    void markLost(int item) { items_[static_cast<std::size_t>(item)].lost = true; }
    void markDue(int item, Micros at) { items_[static_cast<std::size_t>(item)].dueAt = at; }
    // The port of `epoch` went away: what had not come whole by then never will.
    void cutOff(int epoch);
    void markCut(int write) { writes_[static_cast<std::size_t>(write)].cut = true; }
    // A read at `at`; it begins and completes the items given, in order.
    void read(Micros at, const std::vector<int> &begins, const std::vector<int> &ends,
              bool lineEndsOnly);

    std::size_t reads() const { return reads_.size(); }
    const std::vector<Write> &writes() const { return writes_; }
    const std::vector<Item> &items() const { return items_; }
    const Write *lastWrite() const { return writes_.empty() ? nullptr : &writes_.back(); }

    // The ERRORs that reached the host in the reads before `readsAtEnd`.
    std::vector<ErrorSeen> errors(std::size_t readsAtEnd) const;

    // What became of the pass the job ended in, judged from the reads before `readsAtEnd`; an
    // answer due `limitUs` or more after its write came too late for the host (0: no limit).
    PassReview reviewLastPass(std::size_t readsAtEnd, Micros limitUs) const;

    // The longest run of answers, to one command sent again and again, that never came (lost, or
    // cut off by a drop with the answer or the command) or came garbled: line commands and probes
    // apart.
    int longestMissRun(CommandKind kind) const;

    // Whether an answer was due at or after `limitUs` from its command's write (`probeLimitUs`
    // for probes), whether or not it came before the job ended.
    bool lateAnswer(Micros limitUs, Micros probeLimitUs) const;

    // Whether this version text ("VER=...") reached the host.
    bool versionReached(const std::string &text) const;

    // Whether the last line written before read `read` was a verify line.
    bool verifyLineBefore(std::size_t read) const;

    // The writes of the verify pass's first line that began a pass (not re-sends).
    std::vector<std::size_t> verifyStarts() const;

    // Line commands written, and re-sends among them.
    std::size_t lineWrites() const;
    std::size_t lineRepeats() const;

private:
    std::vector<std::size_t> linesOf(const std::string &command) const;
    std::optional<std::size_t> lineWriteBefore(std::size_t read) const;
    // The first write of the last pass: of the last verify pass begun, or of the last run of
    // download lines.
    std::size_t lastPassBegin() const;

    const std::vector<std::string> &records_;
    std::vector<Write> writes_;
    std::vector<Item> items_;
    std::vector<Read> reads_;
};

} // namespace simulation
