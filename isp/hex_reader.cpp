#include "hex_reader.h"

namespace isp {

namespace {

// count, address (2), type, checksum
constexpr std::size_t kRecordOverhead = 5;

int digitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

std::string_view trimLineEnd(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
        line.remove_suffix(1);
    }
    return line;
}

std::variant<HexRecord, HexErrorKind> parseLine(std::string_view line) {
    if (line.front() != ':') {
        return HexErrorKind::kNoStartCode;
    }
    const std::string_view digits = line.substr(1);
    if (digits.size() % 2 != 0) {
        return HexErrorKind::kBadDigit;
    }
    Bytes bytes;
    bytes.reserve(digits.size() / 2);
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        const int high = digitValue(digits[i]);
        const int low = digitValue(digits[i + 1]);
        if (high < 0 || low < 0) {
            return HexErrorKind::kBadDigit;
        }
        bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    if (bytes.size() < kRecordOverhead) {
        return HexErrorKind::kTooShort;
    }
    if (bytes.size() != bytes[0] + kRecordOverhead) {
        return HexErrorKind::kLengthMismatch;
    }
    std::uint8_t sum = 0;
    for (std::uint8_t byte : bytes) {
        sum = static_cast<std::uint8_t>(sum + byte);
    }
    if (sum != 0) {
        return HexErrorKind::kBadChecksum;
    }
    if (bytes[3] > static_cast<std::uint8_t>(HexRecordType::kStartLinearAddress)) {
        return HexErrorKind::kUnknownType;
    }
    HexRecord record;
    record.type = static_cast<HexRecordType>(bytes[3]);
    record.offset = static_cast<std::uint16_t>(bytes[1] << 8 | bytes[2]);
    record.data.assign(bytes.begin() + 4, bytes.end() - 1);
    std::size_t expected = record.data.size();
    switch (record.type) {
        case HexRecordType::kExtendedSegmentAddress:
        case HexRecordType::kExtendedLinearAddress:
            expected = 2;
            break;
        case HexRecordType::kStartSegmentAddress:
        case HexRecordType::kStartLinearAddress:
            expected = 4;
            break;
        case HexRecordType::kData:
        case HexRecordType::kEndOfFile:
            break;
    }
    if (record.data.size() != expected) {
        return HexErrorKind::kBadAddressRecord;
    }
    return record;
}

// Where each data byte goes. Segment addressing wraps within its 64 KiB
// segment, linear addressing does not; addresses under the flash size count
// from the flash base. A record is split where either rule breaks its run.
std::vector<ImageChunk> placeChunks(const std::vector<HexRecord>& records,
                                    const FlashLimits& limits) {
    std::vector<ImageChunk> chunks;
    const HexRecord* chunkRecord = nullptr;
    std::uint32_t linearBase = 0;
    std::uint32_t segmentBase = 0;
    bool segmented = false;
    for (const HexRecord& record : records) {
        const auto value = record.data.size() >= 2
                               ? static_cast<std::uint32_t>(record.data[0] << 8 | record.data[1])
                               : 0u;
        if (record.type == HexRecordType::kExtendedLinearAddress) {
            linearBase = value << 16;
            segmentBase = 0;
            segmented = false;
            continue;
        }
        if (record.type == HexRecordType::kExtendedSegmentAddress) {
            segmentBase = value << 4;
            linearBase = 0;
            segmented = true;
            continue;
        }
        if (record.type != HexRecordType::kData) {
            continue;
        }
        for (std::size_t i = 0; i < record.data.size(); ++i) {
            const std::uint64_t offset =
                segmented ? (record.offset + i) & 0xFFFF : record.offset + i;
            std::uint64_t address = std::uint64_t{linearBase} + segmentBase + offset;
            if (address < limits.size) {
                address += limits.base;
            }
            ImageChunk* last = chunks.empty() ? nullptr : &chunks.back();
            if (last != nullptr && chunkRecord == &record &&
                last->address + last->bytes.size() == address) {
                last->bytes = std::span(last->bytes.data(), last->bytes.size() + 1);
            } else {
                chunks.push_back(ImageChunk{address, std::span(&record.data[i], 1), record.line});
                chunkRecord = &record;
            }
        }
    }
    return chunks;
}

}  // namespace

std::variant<std::vector<HexRecord>, HexSyntaxError> parseHexRecords(std::string_view text) {
    std::vector<HexRecord> records;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        const std::size_t lineEnd = text.find('\n');
        std::string_view line = trimLineEnd(text.substr(0, lineEnd));
        text.remove_prefix(lineEnd == std::string_view::npos ? text.size() : lineEnd + 1);
        ++lineNumber;
        if (line.empty()) {
            continue;
        }
        auto parsed = parseLine(line);
        if (const auto* kind = std::get_if<HexErrorKind>(&parsed)) {
            return HexSyntaxError{*kind, lineNumber};
        }
        HexRecord& record = records.emplace_back(std::move(std::get<HexRecord>(parsed)));
        record.line = lineNumber;
        if (record.type == HexRecordType::kEndOfFile) {
            break;
        }
    }
    return records;
}

ImageResult buildHexImage(const std::vector<HexRecord>& records, const FlashLimits& limits) {
    return assembleImage(placeChunks(records, limits), limits);
}

ImageResult readHexImage(std::string_view text, const FlashLimits& limits) {
    auto parsed = parseHexRecords(text);
    if (const auto* error = std::get_if<HexSyntaxError>(&parsed)) {
        return ImageError{ImageErrorKind::kHexSyntax, error->line, error->kind, std::nullopt, {}};
    }
    return buildHexImage(std::get<std::vector<HexRecord>>(parsed), limits);
}

}  // namespace isp
