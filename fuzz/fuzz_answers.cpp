// The window collecting answers from a port that delivers arbitrary characters. Input: one byte of
// flags (bit 0 file loaded, bit 1 verifying, bit 2 Modbus, bit 3 transfer requested, bits 4-5 the
// line index), a length byte and that many characters for the address box, then one poll per chunk
// (a length byte, then that many characters; length 0 is a quiet poll). After every poll: the line
// index stays within the table; the Modbus buffer within kModbusBufferLimit; the plain-mode pending
// characters within kPlainPendingLimit plus the poll's characters; no firmware line goes out while
// no file is loaded; and whatever goes out is a line of the table, in a valid frame in Modbus mode.
#include "Fuzzing.h"
#include "StandIns.h"
#include "pure/CommandLines.h"
#include "pure/Crc16.h"
#include "pure/ModbusFrame.h"
#include "pure/NumberText.h"

#include <QApplication>

#include <array>
#include <optional>

using namespace quenta;
using quenta::fuzzing::require;

namespace {

constexpr std::array<const char *, 3> kTable = {":020000040000FA", ":0100000055AA", ":00000001FF"};

testing::FakeWindow *bench = nullptr;

// An open window on the fake port with the three-line table loaded and probing stopped. No event
// loop runs, so no timer fires: the polls are driven by hand.
testing::FakeWindow &openBench() {
    static testing::FakeWindow window;
    window->Text1->setText(QStringLiteral("1"));
    window->BTNOpenCom->click();
    require(window.port->isOpen, "the fake port did not open");
    window->Timer3->setEnabled(false);
    window->job.load({kTable.begin(), kTable.end()}, false);
    return window;
}

bool isTableLine(std::string_view command) {
    return std::any_of(kTable.begin(), kTable.end(), [command](const char *entry) {
        return command == downloadLine(entry) || command == verifyLine(entry);
    });
}

bool isFirmwareLine(std::string_view written) {
    return written.find("BOOT:") != std::string_view::npos ||
           written.find("BOOT#") != std::string_view::npos;
}

// What went out is a table line; in Modbus mode, framed for the device address with a valid CRC.
void checkWritten(std::string_view written, const std::optional<std::uint8_t> &modbusAddress) {
    if (!modbusAddress) {
        require(isTableLine(written), "a plain write is not a line of the table");
        return;
    }
    require(written.size() >= 3, "a Modbus write is shorter than a frame");
    const std::string_view body = written.substr(0, written.size() - 2);
    require(static_cast<std::uint8_t>(written[0]) == *modbusAddress,
            "a Modbus write is framed for another address");
    require(written.substr(body.size()) == CRC16(body), "a Modbus write has a wrong CRC");
    require(isTableLine(body.substr(1)), "a Modbus write does not carry a line of the table");
}

} // namespace

// What fontconfig loads when Qt first falls back to another font for a character is out of the
// leak checker's sight; it is no leak of the window.
extern "C" const char *__lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "qt.qpa.*=false");
    static int argc = 1;
    static char name[] = "fuzz_answers";
    static char *argv[] = {name, nullptr};
    static QApplication application(argc, argv);
    bench = &openBench();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    testing::FakeWindow &w = *bench;
    fuzzing::InputBytes input(data, size);
    const std::uint8_t flags = input.byte();
    const bool modbus = (flags & 0x04) != 0;
    FirmwareJob &job = w->job;
    job.FileLoaded = flags & 0x01;
    job.VerifyMode = (flags >> 1) & 0x01;
    w->Check1->setCheckState(modbus ? Qt::Checked : Qt::Unchecked);
    job.TransferRequested = (flags >> 3) & 0x01;
    job.LineIndex = (flags >> 4) & 0x03;
    const std::string addressText = input.chunk();
    w->Text1->setText(
        QString::fromLatin1(addressText.data(), static_cast<qsizetype>(addressText.size())));
    w->RxAnswer.clear();
    w->RxFrame.clear();
    w->RxPlain = {};
    w->BlinkCount = 0;
    w.port->incoming.clear();
    w.port->written.clear();

    const std::optional<std::uint8_t> modbusAddress =
        modbus ? deviceAddress(w->Text1->text().toStdString()) : std::nullopt;
    while (!input.atEnd()) {
        const std::string chunk = input.chunk();
        const bool loaded = job.FileLoaded != 0;
        const std::size_t writtenBefore = w.port->written.size();
        w.port->incoming = chunk;
        w->TMRComm_Timer();

        require(job.LineIndex >= 0 && job.LineIndex <= job.LineCount,
                "the line index left the table");
        require(w->RxFrame.buffer().size() <= kModbusBufferLimit,
                "the Modbus buffer outgrew its limit");
        require(w->RxPlain.pending.size() <= kPlainPendingLimit + chunk.size(),
                "the plain pending characters outgrew their limit");
        for (std::size_t i = writtenBefore; i < w.port->written.size(); ++i) {
            const std::string &written = w.port->written[i];
            require(loaded || !isFirmwareLine(written),
                    "a firmware line went out with no file loaded");
            require(!modbus || modbusAddress.has_value(), "a Modbus write with no device address");
            checkWritten(written, modbusAddress);
        }
    }
    return 0;
}
