// A firmware job paced by a port that delivers arbitrary characters, as the window runs it: each
// poll's characters go through the plain or the Modbus receiver, each answer through the answer
// rule, and each line it asks for is sent. Input: one byte of flags (bit 0 file loaded, bit 1
// verifying, bit 2 Modbus, bit 3 transfer requested, bits 4-5 the line index), a length byte and
// that many characters for the address box, then one poll per chunk (a length byte, then that many
// characters; length 0 is a quiet poll). After every poll: the line index stays within the table;
// the receivers' buffers within their bounds; no firmware line goes out while no file is loaded;
// and what goes out is a line of the table.
#include "Fuzzing.h"
#include "pure/CommandLines.h"
#include "pure/FirmwareJob.h"
#include "pure/ModbusFrame.h"
#include "pure/NumberText.h"
#include "pure/PlainAnswer.h"

#include <algorithm>

using namespace quenta;
using quenta::fuzzing::require;

namespace {

const std::vector<std::string> kTable = {":020000040000FA", ":0100000055AA", ":00000001FF"};

bool isTableLine(std::string_view command) {
    return std::any_of(kTable.begin(), kTable.end(), [command](const std::string &entry) {
        return command == downloadLine(entry) || command == verifyLine(entry);
    });
}

// The answers one poll completes.
std::vector<std::string> poll(PlainReceiver &plain, ModbusReceiver &modbus,
                              const std::optional<AddressSet> &accepted, const std::string &read) {
    if (!accepted) {
        const auto answer = takePlainAnswer(plain, read);
        require(plain.pending.size() <= kPlainPendingLimit + read.size(),
                "the plain-mode pending characters outgrew their bound");
        return answer ? std::vector{*answer} : std::vector<std::string>{};
    }
    std::vector<std::string> answers;
    for (ModbusEvent &event : modbus.take(read, *accepted)) {
        if (event.kind == ModbusEvent::Kind::Answer) {
            answers.push_back(std::move(event.answer));
        }
    }
    require(modbus.buffer().size() <= kModbusBufferLimit, "the Modbus buffer outgrew its bound");
    return answers;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzzing::InputBytes input(data, size);
    const std::uint8_t flags = input.byte();
    FirmwareJob job;
    job.load(kTable, false);
    job.FileLoaded = flags & 0x01;
    job.VerifyMode = (flags >> 1) & 0x01;
    job.TransferRequested = (flags >> 3) & 0x01;
    job.LineIndex = (flags >> 4) & 0x03;
    const AddressReading address = readDeviceAddress(input.chunk());
    std::optional<AddressSet> accepted;
    if ((flags & 0x04) != 0) {
        accepted.emplace();
        if (address.fault == AddressReading::Fault::None) {
            accepted->set(address.address);
        }
    }
    PlainReceiver plain;
    ModbusReceiver modbus;
    while (!input.atEnd()) {
        for (const std::string &answer : poll(plain, modbus, accepted, input.chunk())) {
            const bool loaded = job.FileLoaded == 1;
            if (!job.answer(answer).sendNextLine) {
                continue;
            }
            const auto line = job.nextLine();
            require(loaded && line.has_value(), "a firmware line went out with no file loaded");
            require(isTableLine(line->command), "what went out is not a line of the table");
        }
        require(job.LineIndex >= 0 && job.LineIndex <= job.LineCount,
                "the line index left the table");
    }
    return 0;
}
