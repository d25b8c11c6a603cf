// The Intel HEX converter on arbitrary file contents. Beyond memory safety:
// it never writes past the image, it loads exactly the data bytes of the
// well-formed records before the end, in order, and it closes the file on
// every failure.
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "file_loading.h"
#include "fuzz_check.h"
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

int Digit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0
               ? c - '0'
               : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10;
}

// What the records of the input should load: the data bytes of each
// well-formed data record up to the end record or the first short line; a bad
// line or one longer than the converter reads fails the load.
struct Expected {
    std::vector<std::uint8_t> bytes;
    bool ok = true;
};

Expected ExpectedLoad(const std::uint8_t* data, std::size_t size) {
    Expected expected;
    std::size_t at = 0;
    while (at < size) {
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
            expected.ok = false;
            return expected;
        }
        while (!line.empty() &&
               (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) {
            line.pop_back();
        }
        if (line.size() < 11) {
            return expected;
        }
        if (line[0] != ':') {
            expected.ok = false;
            return expected;
        }
        for (std::size_t k = 1; k < line.size(); ++k) {
            if (std::isxdigit(static_cast<unsigned char>(line[k])) == 0) {
                expected.ok = false;
                return expected;
            }
        }
        const auto pair = [&](std::size_t k) { return Digit(line[k]) * 16 + Digit(line[k + 1]); };
        const int count = pair(1);
        if (line.size() != 11 + 2 * static_cast<std::size_t>(count)) {
            expected.ok = false;
            return expected;
        }
        int sum = 0;
        for (std::size_t k = 1; k < line.size(); k += 2) {
            sum += pair(k);
        }
        if ((sum & 0xFF) != 0) {
            expected.ok = false;
            return expected;
        }
        const int type = pair(7);
        if (type == 1) {
            return expected;
        }
        if (type == 0) {
            if (expected.bytes.size() + static_cast<std::size_t>(count) > IMAGE_SIZE) {
                expected.ok = false;
                return expected;
            }
            for (int i = 0; i < count; ++i) {
                expected.bytes.push_back(
                    static_cast<std::uint8_t>(pair(9 + 2 * static_cast<std::size_t>(i))));
            }
        }
    }
    return expected;
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
    FUZZ_CHECK(result == (expected.ok ? 1 : 0), "verdict matches the records");
    FUZZ_CHECK(count >= 0 && count <= IMAGE_SIZE, "count within the image");
    if (result == 1) {
        FUZZ_CHECK(handle > 0, "file stays open after a good load");
        FUZZ_CHECK(static_cast<std::size_t>(count) == expected.bytes.size(),
                   "every data byte counted");
        FUZZ_CHECK(expected.bytes.empty() ||
                       std::memcmp(image, expected.bytes.data(), expected.bytes.size()) == 0,
                   "data bytes in record order");
        for (int k = count; k < IMAGE_SIZE; ++k) {
            FUZZ_CHECK(image[k] == 0, "nothing written past the data");
        }
        RTE_CloseFile(handle);
    } else {
        FUZZ_CHECK(handle == -1, "file closed on failure");
    }
    std::free(image);
    return 0;
}
