// Reading a firmware file of any supported format into an image. The format
// is found from the content: ELF by its magic, Intel HEX by its records,
// anything else is raw binary.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "image.h"

namespace isp {

enum class ImageFormat { kIntelHex, kElf, kBinary };

ImageFormat detectImageFormat(std::span<const std::uint8_t> content);

struct ImageLoadOptions {
    FlashLimits limits;
    // Where a raw binary goes; nullopt for the flash base.
    std::optional<std::uint32_t> binaryAddress;
    // Forces a format instead of detecting it.
    std::optional<ImageFormat> format;
};

struct LoadedImage {
    Image image;
    ImageFormat format = ImageFormat::kBinary;
};

std::variant<LoadedImage, ImageError> loadImage(std::span<const std::uint8_t> content,
                                                const ImageLoadOptions& options);
std::variant<LoadedImage, ImageError> loadImageFile(const std::string& path,
                                                    const ImageLoadOptions& options);

}  // namespace isp
