// A reader of our own over <elf.h>: a firmware file needs only the program
// headers of one 32-bit little-endian class, which no library is worth
// depending on for.
#include "elf_reader.h"

#include <elf.h>

#include <bit>
#include <cstring>

namespace isp {

namespace {

static_assert(std::endian::native == std::endian::little,
              "the reader copies little-endian headers as they are");

ImageError badElf(std::string detail) {
    ImageError error;
    error.kind = ImageErrorKind::kBadElf;
    error.detail = std::move(detail);
    return error;
}

template <class Header>
bool copyAt(std::span<const std::uint8_t> content, std::uint64_t offset, Header& header) {
    if (offset > content.size() || content.size() - offset < sizeof header) {
        return false;
    }
    std::memcpy(&header, content.data() + offset, sizeof header);
    return true;
}

}  // namespace

bool looksLikeElf(std::span<const std::uint8_t> content) {
    return content.size() >= SELFMAG && std::memcmp(content.data(), ELFMAG, SELFMAG) == 0;
}

ImageResult readElfImage(std::span<const std::uint8_t> content, const FlashLimits& limits) {
    Elf32_Ehdr header;
    if (!looksLikeElf(content) || !copyAt(content, 0, header)) {
        return badElf("not an ELF file");
    }
    if (header.e_ident[EI_CLASS] != ELFCLASS32 || header.e_ident[EI_DATA] != ELFDATA2LSB) {
        return badElf("not a 32-bit little-endian ELF file");
    }
    if (header.e_type != ET_EXEC) {
        return badElf("not an executable (an object file or library?)");
    }
    if (header.e_phnum == 0 || header.e_phentsize != sizeof(Elf32_Phdr)) {
        return badElf("no program headers");
    }
    std::vector<ImageChunk> chunks;
    for (std::size_t i = 0; i < header.e_phnum; ++i) {
        Elf32_Phdr segment;
        if (!copyAt(content, header.e_phoff + i * std::uint64_t{sizeof segment}, segment)) {
            return badElf("program headers past the end of the file");
        }
        if (segment.p_type != PT_LOAD || segment.p_filesz == 0) {
            continue;
        }
        if (segment.p_offset > content.size() ||
            content.size() - segment.p_offset < segment.p_filesz) {
            return badElf("a segment past the end of the file");
        }
        chunks.push_back(
            ImageChunk{segment.p_paddr, content.subspan(segment.p_offset, segment.p_filesz), 0});
    }
    return assembleImage(std::move(chunks), limits);
}

}  // namespace isp
