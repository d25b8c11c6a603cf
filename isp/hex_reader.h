// Intel HEX: a pure record parser, and the image builder that places every
// data byte at its absolute address.
#pragma once

#include <cstdint>
#include <string_view>
#include <variant>
#include <vector>

#include "image.h"

namespace isp {

enum class HexRecordType : std::uint8_t {
    kData = 0x00,
    kEndOfFile = 0x01,
    kExtendedSegmentAddress = 0x02,
    kStartSegmentAddress = 0x03,
    kExtendedLinearAddress = 0x04,
    kStartLinearAddress = 0x05,
};

struct HexRecord {
    HexRecordType type = HexRecordType::kData;
    std::uint16_t offset = 0;
    Bytes data;
    std::size_t line = 0;  // 1-based
};

struct HexSyntaxError {
    HexErrorKind kind;
    std::size_t line;
};

// Every record up to the end-of-file record (or the end of the text). Blank
// lines and line ends of any style are skipped.
std::variant<std::vector<HexRecord>, HexSyntaxError> parseHexRecords(std::string_view text);

// The image the records describe, within limits; refuses bytes outside them,
// data given twice and a file without data.
ImageResult buildHexImage(const std::vector<HexRecord>& records, const FlashLimits& limits);

// Both steps.
ImageResult readHexImage(std::string_view text, const FlashLimits& limits);

}  // namespace isp
