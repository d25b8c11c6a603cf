// The bootloader library's Intel HEX reader on arbitrary text. Beyond memory
// safety: an error names a line of the text; records written back out parse
// to the same records; an image lies within its limits, starts on a
// 4-byte boundary and holds every data byte of the records.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "hex_reader.h"

namespace {

std::string writeRecord(const isp::HexRecord& record) {
    std::string line = ":";
    unsigned sum = 0;
    char pair[3];
    const auto put = [&](unsigned byte) {
        sum += byte;
        std::snprintf(pair, sizeof pair, "%02X", byte & 0xFF);
        line += pair;
    };
    put(static_cast<unsigned>(record.data.size()));
    put(record.offset >> 8u);
    put(record.offset & 0xFFu);
    put(static_cast<unsigned>(record.type));
    for (std::uint8_t byte : record.data) {
        put(byte);
    }
    put((0x100 - (sum & 0xFF)) & 0xFF);
    return line + "\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first byte picks the flash size, so small limits are hit too.
    FuzzInput input(data, size);
    const isp::FlashLimits limits{0x08000000, (static_cast<std::uint32_t>(input.byte()) + 1) * 512};
    std::size_t length = 0;
    const auto* text = input.take(input.left(), &length);
    const std::string_view view(reinterpret_cast<const char*>(text), length);

    const auto parsed = isp::parseHexRecords(view);
    if (const auto* error = std::get_if<isp::HexSyntaxError>(&parsed)) {
        std::size_t lines = 1;
        for (char c : view) {
            lines += c == '\n';
        }
        FUZZ_CHECK(error->line >= 1 && error->line <= lines, "error names a line of the text");
        return 0;
    }
    const auto& records = std::get<std::vector<isp::HexRecord>>(parsed);
    std::string again;
    for (const auto& record : records) {
        again += writeRecord(record);
    }
    const auto reparsed = isp::parseHexRecords(again);
    FUZZ_CHECK(std::holds_alternative<std::vector<isp::HexRecord>>(reparsed),
               "written records parse");
    const auto& second = std::get<std::vector<isp::HexRecord>>(reparsed);
    FUZZ_CHECK(second.size() == records.size(), "same record count");
    for (std::size_t i = 0; i < records.size(); ++i) {
        FUZZ_CHECK(second[i].type == records[i].type && second[i].offset == records[i].offset &&
                       second[i].data == records[i].data,
                   "same records");
    }

    const auto built = isp::buildHexImage(records, limits);
    if (const auto* image = std::get_if<isp::Image>(&built)) {
        FUZZ_CHECK(image->base % 4 == 0, "image starts on a word");
        FUZZ_CHECK(image->base >= (limits.base & ~3u) &&
                       image->end() <= std::uint64_t{limits.base} + limits.size,
                   "image within the limits");
        std::size_t dataBytes = 0;
        for (const auto& record : records) {
            if (record.type == isp::HexRecordType::kData) {
                dataBytes += record.data.size();
            }
        }
        FUZZ_CHECK(dataBytes > 0 && dataBytes <= image->bytes.size(), "every data byte placed");
    } else {
        const auto& error = std::get<isp::ImageError>(built);
        FUZZ_CHECK(error.kind != isp::ImageErrorKind::kHexSyntax, "records already parsed");
        FUZZ_CHECK(error.kind == isp::ImageErrorKind::kNoData || error.line >= 1,
                   "a refusal names its line");
    }
    return 0;
}
