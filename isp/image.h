// A firmware image: bytes at absolute addresses, from the lowest to the
// highest address a file gives data for, gaps filled with the erased value.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "protocol.h"

namespace isp {

inline constexpr std::uint32_t kDefaultFlashBase = 0x08000000;
inline constexpr std::uint32_t kDefaultFlashSize = 128 * 1024;

// Addresses [begin, end).
struct AddressRange {
    std::uint32_t begin = 0;
    std::uint32_t end = 0;
    bool operator==(const AddressRange&) const = default;
};

struct Image {
    std::uint32_t base = 0;  // address of bytes[0], a multiple of 4
    Bytes bytes;
    // Stretches no file gave bytes for (alignment, gaps between records),
    // in address order: they hold the erased value of the part.
    std::vector<AddressRange> filler;
    std::uint64_t end() const { return std::uint64_t{base} + bytes.size(); }
};

// Where an image may lie: the target's flash once it is identified, else the
// default below. Addresses under `size` without the flash base (files linked
// at 0) count from `base`.
struct FlashLimits {
    std::uint32_t base = kDefaultFlashBase;
    std::uint32_t size = kDefaultFlashSize;
};

enum class HexErrorKind {
    kNoStartCode,     // a line that does not begin with ':'
    kBadDigit,        // a character that is not a hex digit, or an odd count
    kTooShort,        // fewer bytes than a record's fixed fields
    kLengthMismatch,  // the length byte disagrees with the line
    kBadChecksum,
    kUnknownType,
    kBadAddressRecord,  // an 02/04/03/05 record of the wrong length
};

enum class ImageErrorKind {
    kHexSyntax,     // hex: which kind and line
    kOutsideFlash,  // a byte outside the limits: address, line (HEX)
    kOverlap,       // data given twice: address, line (HEX)
    kNoData,        // nothing to program
    kBadElf,        // not an ELF file this reader takes: detail names the fault
    kUnreadable,    // the file could not be read: detail holds the reason
};

struct ImageError {
    ImageErrorKind kind = ImageErrorKind::kNoData;
    std::size_t line = 0;  // 1-based, 0 when not about a line
    std::optional<HexErrorKind> hex;
    std::optional<std::uint32_t> address;
    std::string detail;
};

using ImageResult = std::variant<Image, ImageError>;

// Bytes a file gives for one address range; line is where they came from
// (0 when the format has no lines).
struct ImageChunk {
    std::uint64_t address = 0;
    std::span<const std::uint8_t> bytes;
    std::size_t line = 0;
};

// What a part needs of an image before it is written: its start on a whole
// write unit (erased bytes in front) and every filler byte the part's erased
// value. Refused with kOutsideFlash when the bytes in front would fall
// below the flash.
struct PartFit {
    std::uint32_t writeUnit = 4;
    std::uint8_t erasedByte = kErasedByte;
};
ImageResult fitImageToPart(Image image, const PartFit& part, const FlashLimits& limits);

// Joins chunks into one image: every byte inside the limits, no byte given
// twice (the chunk of the later line is the one at fault), at least one byte.
ImageResult assembleImage(std::vector<ImageChunk> chunks, const FlashLimits& limits);

}  // namespace isp
