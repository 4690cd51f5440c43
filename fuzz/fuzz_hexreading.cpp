// HexItemReader and the firmware check over arbitrary bytes. The reading ends; no item holds a CR
// or LF; there are no more items than separators + 1 and no fewer than lines; every item stands in
// the content as it is; reading the same content again gives the same items. The firmware text
// holds only the non-empty items, in order, up to the first fault, each a sound record; only its
// last record may be an end record, and a file read to its end without a fault ends with one. A
// fault names its line, and that line is in the content.
#include "Fuzzing.h"
#include "pure/HexReading.h"
#include "pure/HexRecords.h"

#include <vector>

using quenta::HexItemReader;
using quenta::fuzzing::require;

namespace {

constexpr std::uint8_t kEndRecord = 0x01;

bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}

std::vector<std::string> readAll(std::string_view content) {
    const auto separators = static_cast<std::size_t>(std::count_if(
        content.begin(), content.end(), [](char c) { return c == ',' || isLineEnd(c); }));
    std::vector<std::string> items;
    HexItemReader reader(content);
    while (!reader.atEnd()) {
        require(items.size() <= separators, "more items than separators + 1");
        items.push_back(reader.next());
    }
    return items;
}

// Lines of the content: a CR LF pair, a lone CR and a lone LF each end one; text after the last
// line end is a line too.
std::size_t countLines(std::string_view content) {
    std::size_t lines = 0;
    for (std::size_t i = 0; i < content.size(); ++i) {
        if (content[i] == '\n' ||
            (content[i] == '\r' && (i + 1 == content.size() || content[i + 1] != '\n'))) {
            ++lines;
        }
    }
    if (!content.empty() && !isLineEnd(content.back())) {
        ++lines;
    }
    return lines;
}

// Whether the text speaks of "line N", N not followed by a further digit.
bool namesLine(const std::string &text, std::size_t line) {
    const std::string named = "line " + std::to_string(line);
    for (std::size_t at = text.find(named); at != std::string::npos;
         at = text.find(named, at + 1)) {
        const std::size_t after = at + named.size();
        if (after == text.size() || text[after] < '0' || text[after] > '9') {
            return true;
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string_view content(reinterpret_cast<const char *>(data), size);
    const std::vector<std::string> items = readAll(content);
    for (const std::string &item : items) {
        require(item.find_first_of("\r\n") == std::string::npos, "an item holds a line end");
        require(content.find(item) != std::string_view::npos,
                "an item is not taken from the content");
    }
    require(items.size() >= countLines(content), "a line gave no item");
    require(readAll(content) == items, "a second reading gives other items");

    const quenta::FirmwareText text = quenta::readFirmwareText(content, 64);
    std::size_t next = 0;
    for (const std::string &record : text.records) {
        require(!quenta::recordFault(record), "a firmware line is no sound record");
        require(quenta::recordType(record) != kEndRecord || &record == &text.records.back(),
                "an end record before the last record");
        while (next < items.size() && items[next].empty()) {
            ++next;
        }
        require(next < items.size() && items[next] == record,
                "a firmware line is not the next item");
        ++next;
    }
    require((text.badLine == 0) == text.fault.empty(), "a fault without its line or reason");
    require(text.badLine <= countLines(content), "a fault names a line beyond the content");
    require(text.fault.empty() || namesLine(text.fault, text.badLine),
            "a fault that does not name its line");
    require(!text.fault.empty() || text.tooMany || text.records.empty() ||
                quenta::recordType(text.records.back()) == kEndRecord,
            "a file without an end record taken");
    require(!text.tooMany || text.records.size() == 64, "too many records before the bound");
    return 0;
}
