#include "image.h"

#include <algorithm>

namespace isp {

namespace {

ImageError chunkError(ImageErrorKind kind, const ImageChunk& chunk, std::uint64_t address) {
    ImageError error;
    error.kind = kind;
    error.line = chunk.line;
    error.address = static_cast<std::uint32_t>(address);
    return error;
}

}  // namespace

ImageResult assembleImage(std::vector<ImageChunk> chunks, const FlashLimits& limits) {
    std::erase_if(chunks, [](const ImageChunk& chunk) { return chunk.bytes.empty(); });
    if (chunks.empty()) {
        return ImageError{ImageErrorKind::kNoData, 0, std::nullopt, std::nullopt, {}};
    }
    const std::uint64_t flashEnd = std::uint64_t{limits.base} + limits.size;
    std::optional<ImageError> fault;
    // Of several faults, the one a reader meets first in the file.
    const auto note = [&fault](ImageError error) {
        if (!fault || error.line < fault->line) {
            fault = std::move(error);
        }
    };
    for (const ImageChunk& chunk : chunks) {
        if (chunk.address < limits.base) {
            note(chunkError(ImageErrorKind::kOutsideFlash, chunk, chunk.address));
        } else if (chunk.address + chunk.bytes.size() > flashEnd) {
            note(chunkError(ImageErrorKind::kOutsideFlash, chunk,
                            std::max(chunk.address, flashEnd)));
        }
    }
    if (fault) {
        return *fault;
    }
    std::stable_sort(chunks.begin(), chunks.end(), [](const ImageChunk& a, const ImageChunk& b) {
        return a.address < b.address;
    });
    const auto end = [](const ImageChunk& chunk) { return chunk.address + chunk.bytes.size(); };
    const ImageChunk* reach = &chunks.front();  // the chunk that ends last so far
    for (const ImageChunk& chunk : chunks) {
        if (&chunk != reach && chunk.address < end(*reach)) {
            const ImageChunk& later = chunk.line > reach->line ? chunk : *reach;
            note(chunkError(ImageErrorKind::kOverlap, later, chunk.address));
        }
        if (end(chunk) > end(*reach)) {
            reach = &chunk;
        }
    }
    if (fault) {
        return *fault;
    }
    Image image;
    image.base = static_cast<std::uint32_t>(chunks.front().address) & ~std::uint32_t{3};
    image.bytes.assign(static_cast<std::size_t>(end(*reach) - image.base), kErasedByte);
    std::uint64_t given = image.base;  // end of the bytes placed so far
    for (const ImageChunk& chunk : chunks) {
        if (chunk.address > given) {
            image.filler.push_back(
                {static_cast<std::uint32_t>(given), static_cast<std::uint32_t>(chunk.address)});
        }
        given = std::max(given, end(chunk));
        std::copy(chunk.bytes.begin(), chunk.bytes.end(),
                  image.bytes.begin() + static_cast<std::ptrdiff_t>(chunk.address - image.base));
    }
    return image;
}

ImageResult fitImageToPart(Image image, const PartFit& part, const FlashLimits& limits) {
    const std::uint32_t unit = std::max<std::uint32_t>(part.writeUnit, 1);
    const std::uint32_t lead = image.base % unit;
    if (image.base - lead < limits.base) {
        ImageError error;
        error.kind = ImageErrorKind::kOutsideFlash;
        error.address = image.base - lead;
        return error;
    }
    if (lead > 0) {
        image.base -= lead;
        image.bytes.insert(image.bytes.begin(), lead, part.erasedByte);
        if (!image.filler.empty() && image.filler.front().begin == image.base + lead) {
            image.filler.front().begin = image.base;
        } else {
            image.filler.insert(image.filler.begin(), {image.base, image.base + lead});
        }
    }
    for (const AddressRange& range : image.filler) {
        std::fill(image.bytes.begin() + static_cast<std::ptrdiff_t>(range.begin - image.base),
                  image.bytes.begin() + static_cast<std::ptrdiff_t>(range.end - image.base),
                  part.erasedByte);
    }
    return image;
}

}  // namespace isp
