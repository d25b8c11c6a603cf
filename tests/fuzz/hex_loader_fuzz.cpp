// The Intel HEX converter on arbitrary file contents. Beyond memory safety:
// it never writes past the image, it loads exactly the image the bootloader
// library builds from the records before the end and starts programming at
// its base, and it closes the file on every failure.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "file_loading.h"
#include "fuzz_check.h"
#include "hex_reader.h"
#include "program_image.h"
#include "rte.h"

namespace {

char scratchName[] = "/tmp/chipload-fuzz-hex-XXXXXX";

void RemoveScratchFile() {
    unlink(scratchName);
}

// The converter reads an open file, so each input goes through one scratch
// file, removed when the process ends.
std::string ScratchFile() {
    static const std::string path = [] {
        const int fd = mkstemp(scratchName);
        FUZZ_CHECK(fd >= 0, "scratch file");
        close(fd);
        std::atexit(RemoveScratchFile);
        return std::string(scratchName);
    }();
    return path;
}

// What the input should load: the lines up to the end record or the first
// line too short for a record, read by the bootloader library into the image
// it builds; a line longer than the converter reads, or any line or record
// the library refuses, fails the load.
struct Expected {
    std::optional<isp::Image> image;
};

Expected ExpectedLoad(const std::uint8_t* data, std::size_t size) {
    std::vector<isp::HexRecord> records;
    std::size_t at = 0;
    for (std::size_t lineNumber = 1; at < size; ++lineNumber) {
        std::size_t end = at;
        while (end < size && data[end] != '\n' && data[end] != '\r') {
            ++end;
        }
        std::string line(reinterpret_cast<const char*>(data) + at, end - at);
        at = end;
        if (at < size && data[at] == '\r') {
            ++at;
        }
        if (at < size && data[at] == '\n') {
            ++at;
        }
        if (line.size() > 255) {
            return {};
        }
        while (!line.empty() &&
               (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) {
            line.pop_back();
        }
        if (line.size() < 11) {
            break;
        }
        auto parsed = isp::parseHexRecords(line);
        if (!std::holds_alternative<std::vector<isp::HexRecord>>(parsed)) {
            return {};
        }
        auto& record = std::get<std::vector<isp::HexRecord>>(parsed).front();
        record.line = lineNumber;
        records.push_back(record);
        if (record.type == isp::HexRecordType::kEndOfFile) {
            break;
        }
    }
    auto built = isp::buildHexImage(records, isp::FlashLimits{0x08000000, IMAGE_SIZE});
    if (auto* image = std::get_if<isp::Image>(&built)) {
        return {std::move(*image)};
    }
    return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = ScratchFile();
    FILE* out = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(out != nullptr, "scratch file opens");
    FUZZ_CHECK(std::fwrite(data, 1, size, out) == size, "scratch file written");
    std::fclose(out);

    int handle = RTE_OpenFile(path.c_str(), RTE_FILE_READ, RTE_FILE_OPEN_AS_IS, RTE_FILE_BINARY);
    FUZZ_CHECK(handle > 0, "scratch file reopens");
    // Exactly the image size on the heap: one byte past it is a sanitizer report.
    auto* image = static_cast<unsigned char*>(std::calloc(IMAGE_SIZE, 1));
    int count = 0;
    const int result = hex2bin(&handle, image, &count);

    const Expected expected = ExpectedLoad(data, size);
    FUZZ_CHECK(result == (expected.image ? 1 : 0), "verdict matches the records");
    FUZZ_CHECK(count >= 0 && count <= IMAGE_SIZE, "count within the image");
    if (result == 1) {
        FUZZ_CHECK(handle > 0, "file stays open after a good load");
        FUZZ_CHECK(static_cast<std::size_t>(count) == expected.image->bytes.size(),
                   "the image's length counted");
        FUZZ_CHECK(
            std::memcmp(image, expected.image->bytes.data(), expected.image->bytes.size()) == 0,
            "every byte at its place");
        FUZZ_CHECK(imageBaseAddress == static_cast<int>(expected.image->base),
                   "programming starts at the image's base");
        for (int k = count; k < IMAGE_SIZE; ++k) {
            FUZZ_CHECK(image[k] == 0, "nothing written past the image");
        }
        RTE_CloseFile(handle);
    } else {
        FUZZ_CHECK(handle == -1, "file closed on failure");
    }
    std::free(image);
    return 0;
}
