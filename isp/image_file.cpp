#include "image_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "elf_reader.h"
#include "hex_reader.h"

namespace isp {

namespace {

bool isLineEnd(std::uint8_t byte) {
    return byte == '\n' || byte == '\r';
}

// A HEX file is text: records of hex digits, each on a line that starts with
// ':', perhaps after a byte-order mark or leading blank lines.
bool looksLikeHex(std::span<const std::uint8_t> content) {
    std::size_t at = 0;
    if (content.size() >= 3 && content[0] == 0xEF && content[1] == 0xBB && content[2] == 0xBF) {
        at = 3;
    }
    while (at < content.size() && (isLineEnd(content[at]) || content[at] == ' ')) {
        ++at;
    }
    if (at >= content.size() || content[at] != ':') {
        return false;
    }
    return std::all_of(content.begin() + static_cast<std::ptrdiff_t>(at), content.end(),
                       [](std::uint8_t byte) {
                           return byte == ':' || isLineEnd(byte) || byte == ' ' || byte == '\t' ||
                                  (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'F') ||
                                  (byte >= 'a' && byte <= 'f');
                       });
}

std::string_view asText(std::span<const std::uint8_t> content) {
    std::string_view text(reinterpret_cast<const char*>(content.data()), content.size());
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    return text;
}

}  // namespace

ImageFormat detectImageFormat(std::span<const std::uint8_t> content) {
    if (looksLikeElf(content)) {
        return ImageFormat::kElf;
    }
    return looksLikeHex(content) ? ImageFormat::kIntelHex : ImageFormat::kBinary;
}

std::variant<LoadedImage, ImageError> loadImage(std::span<const std::uint8_t> content,
                                                const ImageLoadOptions& options) {
    const ImageFormat format = options.format.value_or(detectImageFormat(content));
    ImageResult result;
    switch (format) {
        case ImageFormat::kIntelHex:
            result = readHexImage(asText(content), options.limits);
            break;
        case ImageFormat::kElf:
            result = readElfImage(content, options.limits);
            break;
        case ImageFormat::kBinary:
            result = assembleImage(
                {ImageChunk{options.binaryAddress.value_or(options.limits.base), content, 0}},
                options.limits);
            break;
    }
    if (auto* error = std::get_if<ImageError>(&result)) {
        return std::move(*error);
    }
    return LoadedImage{std::move(std::get<Image>(result)), format};
}

std::variant<LoadedImage, ImageError> loadImageFile(const std::string& path,
                                                    const ImageLoadOptions& options) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        ImageError error;
        error.kind = ImageErrorKind::kUnreadable;
        error.detail = std::strerror(EISDIR);
        return error;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ImageError error;
        error.kind = ImageErrorKind::kUnreadable;
        error.detail = std::strerror(errno);
        return error;
    }
    // Files with debug information are many times their image, but not this.
    constexpr std::size_t cap = std::size_t{256} << 20;
    Bytes content;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        content.insert(content.end(), buffer, buffer + in.gcount());
        if (content.size() > cap) {
            ImageError error;
            error.kind = ImageErrorKind::kUnreadable;
            error.detail = "file too large for the flash";
            return error;
        }
    }
    if (in.bad()) {
        ImageError error;
        error.kind = ImageErrorKind::kUnreadable;
        error.detail = "read error";
        return error;
    }
    return loadImage(content, options);
}

}  // namespace isp
